// TkvCustomHTTP: starting, stopping and finishing transfers.
#include "framework/FileDescriptors.h"
#include "http/HttpData.h"
#include "http/Progress.h"
#include "http/RequestWorker.h"
#include "http/Transfer.h"
#include "http/UrlParts.h"
#include "http/Utf8Path.h"
#include "http/net/NetClient.h"
#include "kelvora/Application.h"

namespace kelvora {

using httpimpl::TTransfer;

namespace {

void RemoveOutput(const std::string& Name) {
  std::error_code ec;
  std::filesystem::remove(httpimpl::Utf8Path(Name), ec);
}

}  // namespace

TkvCustomHTTP::TkvCustomHTTP(TComponent* AOwner) : TkvLoginComponent(AOwner), d_(std::make_unique<TData>()) {
  d_->outputFileAttributes_ = std::make_unique<TkvOutputFileAttributes>();
  d_->thread_ = new TkvCustomThread(this);
  d_->hub_ = std::make_shared<httpimpl::THub>();
  d_->client_ = std::make_shared<net::TNetClient>();
  // The body holds the hub, not the component: a job stopped at once may
  // outlive the component.
  d_->thread_->SetOnExecute([hub = d_->hub_](TObject*) { httpimpl::TRequestWorker::RunJob(hub); });
  d_->thread_->SetOnException([this](TObject*) {
    if (OnRequestFailed) OnRequestFailed(this);
  });
  d_->thread_->SetOnFinish([this](TObject*) { CompletionStep(); });
  d_->thread_->OnWaitTimeout = [this](TObject*, bool& StopJob) { WaitStep(StopJob); };
  d_->proxy_ = std::make_unique<TkvHTTPProxy>();
  d_->range_ = std::make_unique<TkvHTTPRange>();
  d_->timeouts_ = std::make_unique<TkvHTTPTimeouts>();
}

TkvCustomHTTP::~TkvCustomHTTP() {
  Destroying();
  *d_->alive_ = false;
  if (d_->thread_ != nullptr) {
    d_->thread_->Suspend();
    if (d_->current_) KillTransfer(*d_->current_);
    delete d_->thread_;  // stops a running job at once
    d_->thread_ = nullptr;
  }
  if (d_->current_) {
    // A worker-side event still running (its hand-offs are dropped now, so
    // it cannot be waiting for us) ends before the component goes.
    { std::lock_guard gate(d_->current_->EventGate); }
    CloseHandles(*d_->current_, true);
    ReleaseTransferOutput(*d_->current_);
  }
}

// --- settings that live in the thread component ---

TThreadPriority TkvCustomHTTP::ThreadPriority() const { return d_->thread_->Priority(); }
void TkvCustomHTTP::SetThreadPriority(TThreadPriority V) { d_->thread_->SetPriority(V); }
bool TkvCustomHTTP::WaitThread() const { return d_->thread_->WaitThread(); }
void TkvCustomHTTP::SetWaitThread(bool V) { d_->thread_->SetWaitThread(V); }

void TkvCustomHTTP::SetTransferBufferSize(int32_t V) {
  if (V < kvMinBufferSize) throw EInvalidOperation("TransferBufferSize must be between 255 and 2147483647");
  d_->transferBufferSize_ = V;
}

void TkvCustomHTTP::SetProgressInterval(int32_t V) {
  if (V < 0) throw EInvalidOperation("ProgressInterval must not be negative");
  d_->progressInterval_ = V;
}

bool TkvCustomHTTP::Busy() const { return d_->thread_ != nullptr && d_->thread_->Running(); }

std::string TkvCustomHTTP::HostName() const {
  std::string scheme, host, user, pass, path, extra;
  uint16_t port = 0;
  return SplitURL(d_->url_, scheme, host, user, pass, path, extra, port) ? host : std::string();
}

std::string TkvCustomHTTP::FileName() const {
  std::string scheme, host, user, pass, path, extra;
  uint16_t port = 0;
  if (!SplitURL(d_->url_, scheme, host, user, pass, path, extra, port)) return {};
  const size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// --- starting ---

std::shared_ptr<TTransfer> TkvCustomHTTP::NewTransfer() {
  auto t = std::make_shared<TTransfer>();
  t->Owner = this;
  t->Client = d_->client_;
  httpimpl::TTransferSettings& s = t->S;
  s.URL = d_->url_;
  s.PostData = d_->postData_;
  s.Referer = d_->referer_;
  s.AcceptTypes = d_->acceptTypes_;
  s.Agent = d_->agent_;
  s.OutputFileName = d_->outputFileName_;
  s.UploadHeaders = d_->uploadHeaders_;
  s.Username = HTTPUsername();
  s.Password = HTTPPassword();
  for (const auto& line : d_->requestHeaders_) s.RequestHeaders.push_back(line);
  s.CacheOptions = d_->requestCacheOptions_;
  s.InternetOptions = d_->internetOptions_;
  s.RangeStart = d_->range_->StartRange();
  s.RangeEnd = d_->range_->EndRange();
  s.ConnectTimeout = d_->timeouts_->ConnectTimeout();
  s.ReceiveTimeout = d_->timeouts_->ReceiveTimeout();
  s.SendTimeout = d_->timeouts_->SendTimeout();
  s.BlockSize = d_->transferBufferSize_;
  s.ProgressInterval = d_->progressInterval_;
  s.ProgressAlertSize = d_->progressAlertSize_;
  s.BodyObserver = d_->bodyObserver_;
  s.OpenOutput = d_->outputOpener_;
  s.UploadFromStream = d_->uploadFromStream_;
  s.RequestMethod = d_->requestMethod_;
  s.AccessType = d_->proxy_->AccessType();
  s.ProxyServer = d_->proxy_->ProxyServer();
  s.ProxyPort = d_->proxy_->ProxyPort();
  s.ProxyBypass = d_->proxy_->ProxyBypass();
  s.ProxyUsername = d_->proxy_->ProxyUsername();
  s.ProxyPassword = d_->proxy_->ProxyPassword();
  s.AutoGoOnline = d_->autoGoOnline_;
  s.WorkOffline = d_->workOffline_;
  s.Complete = d_->outputFileAttributes_->Complete();
  s.Incomplete = d_->outputFileAttributes_->Incomplete();
  s.HasHeaderInfo = static_cast<bool>(OnHeaderInfo);
  s.HasPasswordRequest = static_cast<bool>(OnHTTPPasswordRequest);
  s.HasProxyRequest = static_cast<bool>(OnProxyAuthenticationRequest);
  s.OnBeforeSendRequest = OnBeforeSendRequest;
  s.OnStatusChange = OnStatusChange;
  s.OnRedirect = OnRedirect;
  return t;
}

bool TkvCustomHTTP::ReadRange(int64_t StartPos, int64_t EndPos, bool WaitForFinish) {
  if (!Application().IsMainThread() || IsDestroying()) return false;
  if (d_->current_ && d_->current_->Active) return false;
  d_->uploadFromStream_ = false;
  auto t = NewTransfer();
  t->ResumePosition = StartPos;
  t->ResumeEnd = EndPos;
  d_->resumePosition_ = StartPos;
  d_->resumeEnd_ = EndPos;
  return Start(t, WaitForFinish);
}

bool TkvCustomHTTP::StartUpload(std::unique_ptr<TMemoryStream> Source, const std::string& Headers, bool WaitForFinish) {
  if (!Application().IsMainThread() || IsDestroying() || !Source) return false;
  if (d_->current_ && d_->current_->Active) return false;
  d_->uploadHeaders_ = Headers;
  d_->uploadFromStream_ = true;
  auto t = NewTransfer();
  t->Stream = std::shared_ptr<TStream>(Source.release());
  d_->resumePosition_ = d_->resumeEnd_ = 0;
  return Start(t, WaitForFinish);
}

bool TkvCustomHTTP::Start(const TransferPtr& T, bool WaitForFinish) {
  // A job of the previous transfer may still run (its output was released
  // early) or be finishing (a handler of its completion started this one).
  if (d_->current_) KillTransfer(*d_->current_);
  // Stop that job before the new transfer is put in the hub, so only the
  // new job can take it.
  d_->thread_->Terminate(true);
  {
    std::lock_guard lk(d_->hub_->M);
    d_->hub_->Starting = T;
  }
  d_->current_ = T;
  d_->transferRate_ = -1;
  d_->statusCode_ = -1;
  d_->rangeRequested_ = d_->rangeRefused_ = false;
  d_->contentLength_ = d_->bytesTransferred_ = 0;
  d_->percentsDone_ = 0;
  d_->elapsedTime_ = d_->estimatedTimeLeft_ = 0;
  std::weak_ptr<bool> alive = d_->alive_;
  const bool previous = d_->thread_->WaitThread();
  if (WaitForFinish) d_->thread_->SetWaitThread(true);
  const bool result = d_->thread_->Execute();
  if (alive.expired()) return result;  // a handler freed us while we waited
  if (WaitForFinish) d_->thread_->SetWaitThread(previous);
  return result;
}

// --- stopping ---

void TkvCustomHTTP::KillTransfer(TTransfer& T) {
  T.Killed.store(true);
  // Taking the zone waits for the worker to leave what it is doing to the
  // output; cancelling the session wakes a blocking network wait.
  std::lock_guard lk(T.Zone);
  if (T.Session) T.Session->Cancel();
}

void TkvCustomHTTP::Abort(bool DeleteOutputFile, bool Force) {
  if (!Busy()) return;
  if (!Application().IsMainThread()) {
    // From a handler on the worker itself: the worker stops at its next
    // check, which comes right after the handler.
    TTransfer* t = httpimpl::WorkerTransfer();
    if (t != nullptr && t->Owner == this) {
      t->DeleteOnAbort.store(DeleteOutputFile);
      d_->thread_->Terminate(false);
    }
    return;
  }
  TransferPtr t = d_->current_;
  if (!t) return;
  t->DeleteOnAbort.store(DeleteOutputFile);
  if (!Force) {
    // The worker stops at its next check; a network wait it may be blocked
    // in is woken, so that check comes at once.
    d_->thread_->Terminate(false);
    std::lock_guard lk(t->Zone);
    if (t->Session) t->Session->Cancel();
    return;
  }
  KillTransfer(*t);
  d_->thread_->Terminate(true);
  AbortStep(*t, true);
}

void TkvCustomHTTP::AbortStep(TTransfer& T, bool Forced) {
  CloseHandles(T, Forced);
  const bool wasOpen = T.OutputFileOpen;
  ReleaseTransferOutput(T);
  if (wasOpen && T.DeleteOnAbort.load()) RemoveOutput(T.S.OutputFileName);
  if (!Forced) Publish(T, true);
  if (!IsDestroying() && OnTransferAborted) OnTransferAborted(this);
}

void TkvCustomHTTP::WaitStep(bool& StopJob) {
  if (OnWaitTimeoutExpired) OnWaitTimeoutExpired(this, StopJob);
  if (StopJob && d_->current_) {
    KillTransfer(*d_->current_);
    CloseHandles(*d_->current_, true);
    ReleaseTransferOutput(*d_->current_);
  }
}

void TkvCustomHTTP::CloseHandles(TTransfer& T, bool Forced) {
  {
    std::lock_guard lk(T.Zone);
    if (T.LocalFile >= 0) sys::CloseFile(T.LocalFile);
    T.LocalFile = -1;
    // Stopped at once: the worker may still be inside a call of these; the
    // cancelled session makes it return, and they close when it lets go.
    if (Forced) {
      if (T.Session) T.Session->Cancel();
      return;
    }
  }
  // Request, connection, session: notifications of closing handles may come,
  // so the zone is not held here.
  std::unique_ptr<net::TNetRequest> request;
  std::shared_ptr<net::TNetConnection> connection;
  std::shared_ptr<net::TNetSession> session;
  {
    std::lock_guard lk(T.Zone);
    request = std::move(T.Request);
    connection = std::move(T.Connection);
    session = std::move(T.Session);
  }
  request.reset();
  connection.reset();
  session.reset();
}

void TkvCustomHTTP::ReleaseOutput() {
  if (!Application().IsMainThread()) return;
  if (d_->current_) ReleaseTransferOutput(*d_->current_);
}

void TkvCustomHTTP::ReleaseTransferOutput(TTransfer& T, bool Marked) {
  std::lock_guard lk(T.Zone);
  T.Buffer.reset();
  if (T.Stream) {
    T.Stream.reset();
    if (Marked && T.OutputFileOpen && !T.S.OpenOutput && !(T.S.Incomplete == TkvFileAttributes{atrArchive}))
      ApplyFileAttributes(T.S.OutputFileName, T.S.Incomplete);
    T.OutputFileOpen = false;
  }
  T.Active = false;
}

// --- finishing ---

void TkvCustomHTTP::CompletionStep() {
  TransferPtr keep;
  {
    std::lock_guard lk(d_->hub_->M);
    keep = std::move(d_->hub_->Finishing);
    d_->hub_->Finishing.reset();
  }
  if (!keep) return;
  TTransfer& t = *keep;
  if (t.FinalProgress && !FinalProgressStep(t)) return;
  // A handler may free this component; then the step ends with it.
  std::weak_ptr<bool> alive = d_->alive_;
  auto gone = [&alive] { return alive.expired() || !*alive.lock(); };
  CloseHandles(t, false);
  Publish(t, true);
  if (t.Stream) t.Stream->SetPosition(0);
  if (t.Continue) {
    if (t.Success && !t.Stream) {
      if (OnRequestFailed) OnRequestFailed(this);
      if (gone()) return;
      if (OnDoneWithoutData) OnDoneWithoutData(this);
      if (gone()) return;
      std::lock_guard lk(t.Zone);
      t.Active = false;
      return;
    }
    if (t.Success) {
      TStream* data = t.Stream.get();
      if (t.OutputFileOpen) {
        // Closed, attributes set and the transfer no longer active while
        // OnDone runs, so a handler can start the next one.
        const bool completes = !t.S.OpenOutput && !(t.S.Incomplete == t.S.Complete);
        ReleaseTransferOutput(t, !completes);
        if (completes) ApplyFileAttributes(t.S.OutputFileName, t.S.Complete);
        data = nullptr;
      }
      if (OnDone) OnDone(this, t.ContentType, t.BytesTransferred + t.ResumePosition, data);
    } else {
      TStream* data = t.Stream.get();
      if (t.WriteError != 0) {
        if (OnWriteError) OnWriteError(this, t.S.OutputFileName, t.WriteError);
      } else if (t.StatusCode == 200 || t.StatusCode == 206) {
        if (OnConnectionLost) OnConnectionLost(this, t.ContentType, t.ContentLength, t.BytesTransferred, data);
      } else if (t.StatusCode == -1) {
        if (OnNoConnection) OnNoConnection(this);
      } else {
        if (t.OutputFileOpen) t.DeleteMarked = true;
        if (OnHTTPError) OnHTTPError(this, t.StatusCode, data);
      }
      if (!gone() && OnRequestFailed) OnRequestFailed(this);
    }
  }
  // Only this transfer's output: a handler may have started the next one.
  ReleaseTransferOutput(t);
  if (t.DeleteMarked) RemoveOutput(t.S.OutputFileName);
  if (gone()) return;
  if (!t.Continue && OnDownloadStopped) OnDownloadStopped(this);
}

bool TkvCustomHTTP::FinalProgressStep(TTransfer& T) {
  T.FinalProgress = false;
  std::weak_ptr<bool> alive = d_->alive_;
  // As on the worker: the thread component's rule for a handler's error.
  try {
    RaiseReadProgress(T);
  } catch (...) {
    if (alive.expired() || !*alive.lock() || !d_->thread_->HandleExceptions()) throw;
  }
  if (alive.expired() || !*alive.lock()) return false;
  // Stopped at once, or another transfer started: nothing more of this one.
  if (T.Killed.load()) return false;
  // Aborted or released in the handler: the abort step, as the worker's
  // next check would have run it.
  if (d_->thread_->Terminated() || !T.Active) {
    AbortStep(T, false);
    return false;
  }
  return true;
}

// --- figures ---

void TkvCustomHTTP::Publish(const TTransfer& T, bool Headers) {
  if (d_->current_.get() != &T) return;  // a newer transfer owns the figures now
  d_->statusCode_ = T.StatusCode;
  d_->contentLength_ = T.ContentLength;
  d_->bytesTransferred_ = T.BytesTransferred;
  d_->resumePosition_ = T.ResumePosition;
  d_->resumeEnd_ = T.ResumeEnd;
  d_->rangeRequested_ = T.RangeRequested;
  d_->rangeRefused_ = T.RangeRefused;
  if (d_->contentType_ != T.ContentType) d_->contentType_ = T.ContentType;
  if (Headers) {
    d_->rawHeaders_ = T.RawHeaders;
    d_->contentLanguage_ = T.ContentLanguage;
    d_->contentEncoding_ = T.ContentEncoding;
    d_->location_ = T.Location;
    d_->eTag_ = T.ETag;
    d_->date_ = T.Date;
    d_->lastModified_ = T.LastModified;
    d_->expires_ = T.Expires;
  }
}

void TkvCustomHTTP::RaiseReadProgress(TTransfer& T) {
  Publish(T, false);
  ComputeProgress(T, T.ContentLength);
  if (OnReadProgress)
    OnReadProgress(this, T.ContentType, T.ContentLength + T.ResumePosition, T.BytesTransferred + T.ResumePosition,
                   ElapsedTime(), EstimatedTimeLeft(), PercentsDone(), TransferRate(), T.Stream.get());
}

void TkvCustomHTTP::ComputeProgress(const TTransfer& T, int64_t Size) {
  const auto f = httpimpl::ComputeProgressFigures(Size, T.BytesTransferred, T.ResumePosition,
                                                  httpimpl::TickCount() - T.StartTick);
  d_->percentsDone_ = f.PercentsDone;
  d_->elapsedTime_ = f.ElapsedTime;
  d_->estimatedTimeLeft_ = f.EstimatedTimeLeft;
  d_->transferRate_ = f.TransferRate;
}

}  // namespace kelvora
