// The request worker: the job body, its abort check and hand-offs, the
// session and connection, and the request up to its header event. The
// send step, logins, ranges, local files and the output have files of
// their own (RequestWorker*.cpp).
#include "http/RequestWorker.h"

#include <algorithm>
#include <chrono>
#include <cctype>

#include "http/DefaultTimeouts.h"
#include "http/HeaderValues.h"
#include "kelvora/kvThread.h"
#include "kelvora/kvUtils.h"

namespace kelvora::httpimpl {

namespace {

using namespace net;

thread_local TTransfer* tWorkerTransfer = nullptr;

// Rounds of asking for a login (401 or 407) before the last answer is
// reported: a handler that keeps saying "try again" cannot loop for ever.
constexpr int kMaxLoginRounds = 10;

std::string Lower(std::string S) {
  for (auto& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

}  // namespace

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TTransfer* WorkerTransfer() { return tWorkerTransfer; }

TRequestWorker::TRequestWorker(std::shared_ptr<TTransfer> T) : keep_(std::move(T)), t_(*keep_), s_(t_.S) {}

void TRequestWorker::RunJob(const std::shared_ptr<THub>& Hub) {
  std::shared_ptr<TTransfer> t;
  {
    std::lock_guard lk(Hub->M);
    t = std::move(Hub->Starting);
    Hub->Starting.reset();
    if (t) Hub->Finishing = t;
  }
  if (!t) return;
  tWorkerTransfer = t.get();
  struct Reset {
    ~Reset() { tWorkerTransfer = nullptr; }
  } reset;
  try {
    TRequestWorker(t).Run();
  } catch (const EThreadStop&) {
    throw;
  } catch (...) {
    // Whatever the worker had found, a transfer cut off by an error is not
    // complete; the thread component reports the error itself.
    t->Success = false;
    throw;
  }
}

// --- plumbing ---

void TRequestWorker::Check() {
  if (t_.Killed.load()) throw EThreadStop{};
  if (CurrentJobTerminated()) {
    // An event left to the completion step comes before the abort.
    if (t_.FinalProgress) ReadProgress();
    // The abort step runs on the UI thread (which owns the component's
    // state) while this worker waits; then the job ends here.
    Sync([this] { t_.Owner->AbortStep(t_, false); });
    throw EThreadStop{};
  }
}

void TRequestWorker::EndReleased() {
  if (t_.FinalProgress) ReadProgress();
  // Outside the zone lock: the abort step takes it on the UI thread. A stop
  // that comes first makes the hand-off return at once.
  Sync([this] { t_.Owner->AbortStep(t_, false); });
  throw EThreadStop{};
}

void TRequestWorker::Sync(const std::function<void()>& Fn) {
  SynchronizeCurrentJob([&] {
    if (t_.Owner->IsDestroying()) return;
    Fn();
  });
  if (t_.Killed.load()) throw EThreadStop{};
}

void TRequestWorker::WorkerEvent(const std::function<void()>& Fn) {
  std::lock_guard gate(t_.EventGate);
  if (t_.Killed.load()) return;
  Fn();
}

// Runs on whichever thread drives or closes the handles: the worker, or the
// UI thread when the completion step closes them. Works on the transfer
// only, which owns the session and so outlives every notification.
void TRequestWorker::OnStatus(TTransfer& T, void* Context, uint32_t Status, const void* Info, uint32_t Length) {
  if (Context != &T) return;  // not a notification of ours
  std::string newUrl;
  if (Status == stRedirect && Info != nullptr && Length > 0)
    newUrl.assign(static_cast<const char*>(Info), Length - 1);
  std::lock_guard gate(T.EventGate);
  if (T.Killed.load()) return;
  // Often called from inside libcurl, which nothing may unwind through: a
  // handler's error (a hand-off of a stopped job) ends here, and the worker
  // stops at its next check.
  try {
    if (T.S.OnStatusChange)
      T.S.OnStatusChange(T.Owner, static_cast<int32_t>(Status), InternetStatusText(static_cast<int32_t>(Status)));
    if (Status == stRedirect && T.S.OnRedirect) T.S.OnRedirect(T.Owner, newUrl);
  } catch (...) {
  }
}

bool TRequestWorker::QueryText(uint32_t Level, std::string& Value) {
  return t_.Request != nullptr && t_.Request->QueryInfo(Level, Value, TNetRequest::kQueryBufferSize);
}

// Closes the request and connection handles. They are taken out under the
// zone but closed outside it, since closing raises notifications.
void TRequestWorker::DropRequest() {
  std::unique_ptr<TNetRequest> request;
  std::shared_ptr<TNetConnection> connection;
  Guarded([&] {
    request = std::move(t_.Request);
    connection = std::move(t_.Connection);
  });
  request.reset();
  connection.reset();
}

void TRequestWorker::FreeStream() {
  std::lock_guard lk(t_.Zone);
  if (t_.Killed.load()) throw EThreadStop{};
  t_.Stream.reset();
}

// --- the run ---

void TRequestWorker::Run() {
  t_.StatusCode = -1;
  t_.ContentType.clear();
  block_ = static_cast<size_t>(std::max<int32_t>(kvMinBufferSize, s_.BlockSize));
  t_.StartTick = TickCount();
  t_.Continue = true;

  CrackUrl(s_.URL, url_);  // a URL that cannot be split leaves every part empty
  scheme_ = Lower(url_.Scheme);
  // The request target as written, with what may not appear in it escaped
  // (escapes already in the URL are kept). A fragment stays on the client.
  const std::string query = url_.RawExtraInfo.substr(0, url_.RawExtraInfo.find('#'));
  object_ = EncodeKeepingEscapes(url_.RawPath.empty() ? "/" : url_.RawPath) + EncodeKeepingEscapes(query);
  if (url_.UserName.empty()) url_.UserName = s_.Username;
  if (url_.Password.empty()) url_.Password = s_.Password;
  Check();

  if (scheme_ == "file") {
    local_ = true;
    for (;;) {
      if (LocalFile() != Next::Output) return;
      if (Output() != Next::Restart) return;
    }
  }
  if (!OpenSession()) return;
  for (;;) {
    const Next n = Request();
    if (n == Next::End) return;
    if (n == Next::Restart) continue;
    if (Output() != Next::Restart) return;
  }
}

bool TRequestWorker::OpenSession() {
  TAccessType access = s_.AccessType == atDirect   ? TAccessType::Direct
                       : s_.AccessType == atUseProxy ? TAccessType::Proxy
                                                     : TAccessType::Preconfig;
  std::string proxy, bypass;
  if (s_.AccessType == atUseProxy) {
    proxy = s_.ProxyServer + ":" + std::to_string(s_.ProxyPort);
    bypass = s_.ProxyBypass;
  }
  auto session = std::make_shared<TNetSession>(t_.Client, s_.Agent, access, proxy, bypass,
                                               s_.WorkOffline ? sfOffline : 0u);
  TTransfer* t = &t_;
  session->SetStatusCallback([t](void* Context, uint32_t Status, const void* Info, uint32_t Length) {
    OnStatus(*t, Context, Status, Info, Length);
  });
  Guarded([&] { t_.Session = session; });
  t_.Success = true;
  return true;
}

TRequestWorker::Next TRequestWorker::Request() {
  // Connection step (again after a failed resume).
  Check();
  if (url_.HostName.empty()) {
    t_.Success = false;
    return Next::End;
  }
  auto connection = std::make_shared<TNetConnection>(t_.Session, url_.HostName, url_.Port, url_.UserName,
                                                     url_.Password, &t_);
  Guarded([&] { t_.Connection = connection; });
  t_.Success = true;
  Check();

  if (s_.RequestMethod == rmGet)
    methodIndex_ = 0;
  else if (s_.RequestMethod == rmPost)
    methodIndex_ = 1;
  else
    methodIndex_ = !s_.PostData.empty() || s_.UploadFromStream ? 1 : 0;
  const uint32_t flags = RequestFlags(scheme_, s_.CacheOptions, s_.InternetOptions);
  // The request carries the transfer as its context too, so that its
  // notifications reach the component.
  auto request = std::make_unique<TNetRequest>(connection, methodIndex_ == 1 ? "POST" : "GET", object_, s_.Referer,
                                               s_.AcceptTypes, flags, &t_);
  Guarded([&] { t_.Request = std::move(request); });
  t_.Success = true;
  Check();

  TNetRequest& req = *t_.Request;
  const TDefaultTimeouts& defaults = DefaultTimeouts();
  req.SetOption(optConnectTimeout, EffectiveTimeout(s_.ConnectTimeout, defaults.Connect));
  req.SetOption(optReceiveTimeout, EffectiveTimeout(s_.ReceiveTimeout, defaults.Receive));
  req.SetOption(optSendTimeout, EffectiveTimeout(s_.SendTimeout, defaults.Send));
  if (s_.InternetOptions.Contains(ioIgnoreUnknownCertificateAuthority)) req.SetOption(optSecurityFlags, secIgnoreUnknownCA);
  if (s_.AccessType != atDirect && !s_.ProxyUsername.empty() && !s_.ProxyPassword.empty()) {
    req.SetOption(optProxyUsername, s_.ProxyUsername);
    req.SetOption(optProxyPassword, s_.ProxyPassword);
  }
  if (s_.AutoGoOnline) {
    // This system has no offline state chosen by the user: the query says
    // "connected" and there is nothing to go online for.
    uint32_t state = 0;
    if (t_.Session->QueryOption(optConnectedState, state) && (state & csOfflineByUser)) {
    }
  }
  WorkerEvent([&] {
    if (s_.OnBeforeSendRequest) s_.OnBeforeSendRequest(t_.Owner, &req);
  });
  if (!AddRangeHeaders(t_.StatusCode == 416 ? hmReplace : hmAdd, 0, 0, false)) {
    t_.Success = false;
    return Next::End;
  }

  // Send step, repeated while a login is to be tried.
  int loginRounds = 0;
  for (;;) {
    Check();
    t_.Retry = false;
    bool skip = false;
    t_.Success = Send(methodIndex_, skip);
    if (!t_.Success) {
      Check();  // a send cut short by an abort ends as an abort
      FreeStream();
      return Next::End;
    }
    if (!skip) {
      Check();
      std::string status;
      t_.Success = QueryText(qiStatusCode, status);
      if (t_.Success) t_.StatusCode = static_cast<int32_t>(ToNumber(status));
      if (t_.StatusCode == 416 && t_.ResumePosition != 0) {
        const int64_t full = SizeProbe();
        if (full == t_.ResumePosition) return Next::End;  // the resumed file is complete
        t_.StatusCode = -1;
        t_.ResumePosition = 0;
        DropRequest();
        return Next::Restart;
      }
      const bool mayAsk = loginRounds < kMaxLoginRounds;
      if (t_.StatusCode == 401 && s_.HasPasswordRequest && mayAsk) {
        ++loginRounds;
        AskPassword();
      }
      if (t_.StatusCode == 407 && s_.HasProxyRequest && mayAsk) {
        ++loginRounds;
        AskProxyLogin();
      }
    }
    if (!t_.Retry) break;
  }

  FreeStream();  // an upload source is no longer needed
  Check();
  ReadResponseHeaders();
  if (!RangeAnswerFits()) {
    // Not the bytes asked for. A resume to the end starts again from the
    // beginning, once; anything else fails before a byte is kept.
    const bool resumeToEnd = t_.ResumePosition != 0 && t_.ResumeEnd == 0 && s_.RangeStart == 0 && s_.RangeEnd == 0;
    if (resumeToEnd && !rangeRetried_) {
      rangeRetried_ = true;
      t_.StatusCode = -1;
      t_.ResumePosition = 0;
      DropRequest();
      return Next::Restart;
    }
    t_.Success = false;
    t_.ReadFailed = true;
    t_.RangeRefused = true;
    return Next::End;
  }
  if (s_.HasHeaderInfo) {
    std::string raw;
    QueryText(qiRawHeadersCRLF, raw);
    t_.RawHeaders = raw;
    auto text = [this](uint32_t Level) {
      std::string v;
      return QueryText(Level, v) ? v : std::string();
    };
    auto date = [this](uint32_t Level) {
      std::string v;
      return QueryText(Level, v) ? ParseInternetDate(v) : TDateTime(0);
    };
    t_.ContentLanguage = text(qiContentLanguage);
    t_.ContentEncoding = text(qiContentEncoding);
    t_.Location = text(qiLocation);
    t_.ETag = text(qiETag);
    t_.Date = date(qiDate);
    t_.LastModified = date(qiLastModified);
    t_.Expires = date(qiExpires);
    Sync([this] {
      TkvCustomHTTP& c = *t_.Owner;
      c.Publish(t_, true);
      bool cont = t_.Continue;
      if (c.OnHeaderInfo)
        c.OnHeaderInfo(&c, t_.StatusCode, t_.RawHeaders, t_.ContentType, t_.ContentLanguage, t_.ContentEncoding,
                       t_.ContentLength + t_.ResumePosition, t_.Location, t_.Date, t_.LastModified, t_.Expires,
                       t_.ETag, cont);
      t_.Continue = cont;
    });
    if (!t_.Continue) return Next::End;
  }
  return Next::Output;
}

void TRequestWorker::ReadResponseHeaders() {
  std::string v;
  if (QueryText(qiContentType, v)) t_.ContentType = v;
  t_.Success = QueryText(qiContentLength, v);
  t_.ContentLength = t_.Success ? std::max<int64_t>(0, ToNumber(v)) : 0;
  // A 200 is the whole resource, whatever range was asked for.
  if (t_.StatusCode == 200 || !QueryText(qiContentRange, v)) t_.ResumePosition = 0;
}

}  // namespace kelvora::httpimpl
