#include "http/RequestWorker.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cerrno>
#include <cstring>

#include "http/DefaultTimeouts.h"
#include "kelvora/kvThread.h"
#include "kelvora/kvUtils.h"

namespace kelvora::httpimpl {

namespace {

using namespace net;

thread_local TTransfer* tWorkerTransfer = nullptr;

const char kFormHeader[] = "Content-Type: application/x-www-form-urlencoded";
// A memory output is pre-sized to the announced length only up to this
// bound, so a wrong or hostile Content-Length cannot make us allocate
// gigabytes before any byte arrived; past it the stream grows as data comes.
constexpr int64_t kPresizeLimit = 16 * 1024 * 1024;
// Rounds of asking for a login (401 or 407) before the last answer is
// reported: a handler that keeps saying "try again" cannot loop for ever.
constexpr int kMaxLoginRounds = 10;

// Decimal number of a header value; anything that is not one gives 0.
int64_t ToNumber(const std::string& Text) {
  size_t b = Text.find_first_not_of(" \t");
  if (b == std::string::npos) return 0;
  size_t e = Text.find_last_not_of(" \t") + 1;
  int64_t v = 0;
  auto [p, ec] = std::from_chars(Text.data() + b, Text.data() + e, v);
  if (ec != std::errc() || p != Text.data() + e) return 0;
  return v;
}

// The realm of a challenge: the quoted value of realm="...". Values without
// it fall back to the text after the first '="' without its last character.
std::string RealmOf(const std::string& Challenge) {
  const char* at = strcasestr(Challenge.c_str(), "realm=\"");
  if (at != nullptr) {
    const size_t from = static_cast<size_t>(at - Challenge.c_str()) + 7;
    const size_t to = Challenge.find('"', from);
    if (to != std::string::npos) return Challenge.substr(from, to - from);
  }
  const size_t q = Challenge.find("=\"");
  if (q == std::string::npos) return Challenge;
  std::string realm = Challenge.substr(q + 2);
  if (!realm.empty()) realm.pop_back();
  return realm;
}

std::string RangeLine(int64_t From, int64_t To) {
  std::string line = "RANGE: bytes=" + std::to_string(From) + "-";
  if (To != 0) line += std::to_string(To);
  return line + "\r\n";
}

// "bytes first-last/total" of a Content-Range; Total is -1 for "*".
bool ParseContentRange(const std::string& Value, int64_t& First, int64_t& Last, int64_t& Total) {
  const size_t b = Value.find_first_not_of(" \t");
  if (b == std::string::npos || strncasecmp(Value.c_str() + b, "bytes ", 6) != 0) return false;
  const char* p = Value.c_str() + b + 6;
  const char* end = Value.c_str() + Value.size();
  while (p < end && *p == ' ') ++p;
  auto number = [&](int64_t& Out) {
    auto [q, ec] = std::from_chars(p, end, Out);
    if (ec != std::errc() || q == p || Out < 0) return false;
    p = q;
    return true;
  };
  if (!number(First) || p >= end || *p++ != '-' || !number(Last) || p >= end || *p++ != '/') return false;
  if (p < end && *p == '*') {
    Total = -1;
    ++p;
  } else if (!number(Total)) {
    return false;
  }
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  return p == end && First <= Last && (Total < 0 || Last < Total);
}

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
    // The abort step runs on the UI thread (which owns the component's
    // state) while this worker waits; then the job ends here.
    Sync([this] { t_.Owner->AbortStep(t_, false); });
    throw EThreadStop{};
  }
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

// A 206 must hold exactly the range asked for: the resume range, else the
// Range setting. Its Content-Range must start there, end where asked (or at
// the last byte when asked to the end) and agree with Content-Length. To a
// request without a range only the whole resource fits.
bool TRequestWorker::RangeAnswerFits() {
  if (t_.StatusCode != 206) return true;
  int64_t from = 0, to = 0;
  const bool asked = t_.ResumePosition != 0 || t_.ResumeEnd != 0 || s_.RangeStart != 0 || s_.RangeEnd != 0;
  if (t_.ResumePosition != 0 || t_.ResumeEnd != 0) {
    from = t_.ResumePosition;
    to = t_.ResumeEnd;
  } else if (s_.RangeStart != 0 || s_.RangeEnd != 0) {
    from = s_.RangeStart;
    to = s_.RangeEnd;
  }
  std::string v;
  int64_t first = 0, last = 0, total = 0;
  if (!QueryText(qiContentRange, v) || !ParseContentRange(v, first, last, total)) return false;
  if (first != from || (!asked && total < 0)) return false;
  const bool toEnd = to == 0 || (total >= 0 && to >= total);
  if (toEnd ? (total >= 0 && last != total - 1) : last != to) return false;
  std::string length;
  if (QueryText(qiContentLength, length) && ToNumber(length) != last - first + 1) return false;
  return true;
}

bool TRequestWorker::Send(int MethodIndex, bool& SkipToRetryDecision) {
  TNetRequest& req = *t_.Request;
  if (MethodIndex == 0) return req.Send("", nullptr, 0);
  if (!s_.UploadFromStream) return req.Send(kFormHeader, s_.PostData.data(), s_.PostData.size());
  return Upload(SkipToRetryDecision);
}

bool TRequestWorker::Upload(bool& SkipToRetryDecision) {
  // The source stays alive in this frame even if the UI releases it.
  std::shared_ptr<TStream> source;
  Guarded([&] { source = t_.Stream; });
  auto* mem = dynamic_cast<TMemoryStream*>(source.get());
  if (mem == nullptr) throw EInvalidOperation("An upload needs a memory stream as its source");
  const int64_t size = mem->Size();
  t_.ContentLength = size;
  TNetRequest& req = *t_.Request;
  if (!req.SendEx(s_.UploadHeaders, size)) return false;
  mem->SetPosition(0);
  t_.BytesTransferred = 0;
  for (;;) {
    Check();
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(block_), size - t_.BytesTransferred);
    if (n <= 0) break;
    size_t written = 0;
    if (!req.Write(mem->Memory() + t_.BytesTransferred, static_cast<size_t>(n), written) || written == 0) break;
    t_.BytesTransferred += static_cast<int64_t>(written);
    UploadProgress();
  }
  if (!req.End() && req.LastError() == TNetError::ForceRetry) {
    t_.Retry = true;
    SkipToRetryDecision = true;
  }
  return true;
}

int64_t TRequestWorker::SizeProbe() {
  if (!AddRangeHeaders(hmReplace, 0, 0, true)) return 0;
  Check();
  TNetRequest& req = *t_.Request;
  if (!req.Send("", nullptr, 0)) return 0;
  int64_t full = 0;
  std::string v;
  if (QueryText(qiStatusCode, v)) {
    t_.StatusCode = static_cast<int32_t>(ToNumber(v));
    if ((t_.StatusCode == 200 || t_.StatusCode == 206) && QueryText(qiContentLength, v)) full = ToNumber(v);
  }
  Check();
  return full;
}

// The request headers with the range: the resume range when one is given,
// else the Range setting (Forced: the range From-To).
bool TRequestWorker::AddRangeHeaders(uint32_t Modifiers, int64_t From, int64_t To, bool Forced) {
  std::string text;
  for (const auto& line : s_.RequestHeaders) text += line + "\r\n";
  if (Forced)
    text += RangeLine(From, To);
  else if (t_.ResumePosition != 0 || t_.ResumeEnd != 0)
    text += RangeLine(t_.ResumePosition, t_.ResumeEnd);
  else if (s_.RangeStart != 0 || s_.RangeEnd != 0)
    text += RangeLine(s_.RangeStart, s_.RangeEnd);
  if (text.empty()) return true;
  return t_.Request->AddHeaders(text, Modifiers);
}

void TRequestWorker::AskPassword() {
  std::string challenge;
  t_.Success = QueryText(qiWWWAuthenticate, challenge);
  const std::string realm = t_.Success ? RealmOf(challenge) : std::string();
  t_.ContentType = realm;
  Sync([&] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    bool tryAgain = t_.Retry;
    std::weak_ptr<bool> alive = c.alive_;
    if (c.OnHTTPPasswordRequest) c.OnHTTPPasswordRequest(&c, realm, tryAgain);
    t_.Retry = tryAgain;
    if (alive.expired()) return;  // freed by its handler
    s_.Username = c.HTTPUsername();
    s_.Password = c.HTTPPassword();
  });
  t_.Request->SetOption(optUsername, s_.Username);
  t_.Request->SetOption(optPassword, s_.Password);
}

void TRequestWorker::AskProxyLogin() {
  Sync([&] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    bool tryAgain = t_.Retry;
    std::string user = c.Proxy().ProxyUsername(), pass = c.Proxy().ProxyPassword();
    std::weak_ptr<bool> alive = c.alive_;
    if (c.OnProxyAuthenticationRequest) c.OnProxyAuthenticationRequest(&c, user, pass, tryAgain);
    t_.Retry = tryAgain;
    if (alive.expired()) return;  // freed by its handler
    c.Proxy().SetProxyUsername(user);
    c.Proxy().SetProxyPassword(pass);
    s_.ProxyUsername = user;
    s_.ProxyPassword = pass;
  });
  t_.Request->SetOption(optProxyUsername, s_.ProxyUsername);
  t_.Request->SetOption(optProxyPassword, s_.ProxyPassword);
}

// A local file: status 404 when it cannot be opened, else 200. The range to
// read is the resume range, or else the Range setting; ContentLength is the
// number of bytes that range holds, as for a partial answer over HTTP.
TRequestWorker::Next TRequestWorker::LocalFile() {
  const int fd = ::open(url_.Path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    t_.StatusCode = 404;
    t_.ContentLength = 0;
    t_.Success = false;
    return Next::Output;
  }
  Guarded([&] { t_.LocalFile = fd; });
  const int64_t size = st.st_size;
  t_.StatusCode = 200;
  if (t_.ResumePosition != 0 && t_.ResumePosition >= size) {
    if (t_.ResumePosition == size) {
      t_.Success = true;  // already complete, like a 416 whose full size matches
      t_.ContentLength = size;
      return Next::End;
    }
    t_.ResumePosition = 0;  // the partial file is longer than the source
    t_.ResumeEnd = 0;
  }
  int64_t from = 0, to = 0;
  if (t_.ResumePosition != 0 || t_.ResumeEnd != 0) {
    from = t_.ResumePosition;
    to = t_.ResumeEnd;
  } else if (s_.RangeStart != 0 || s_.RangeEnd != 0) {
    from = s_.RangeStart;
    to = s_.RangeEnd;
  }
  from = std::min(from, size);
  const int64_t stop = to != 0 ? std::min<int64_t>(to + 1, size) : size;
  localLeft_ = std::max<int64_t>(0, stop - from);
  t_.ContentLength = localLeft_;
  Guarded([&] { ::lseek(t_.LocalFile, from, SEEK_SET); });
  t_.Success = true;  // the size is known, as with a Content-Length
  return Next::Output;
}

TRequestWorker::Next TRequestWorker::AbandonResume() {
  t_.StatusCode = -1;
  t_.ResumePosition = 0;
  Guarded([&] {
    t_.Stream.reset();
    t_.OutputFileOpen = false;
    if (t_.LocalFile >= 0) ::close(t_.LocalFile);
    t_.LocalFile = -1;
  });
  DropRequest();
  return Next::Restart;
}

TRequestWorker::Next TRequestWorker::Output() {
  Check();
  const bool ok2xx = t_.StatusCode == 200 || t_.StatusCode == 206;
  bool toMemory = true;
  if (ok2xx && !s_.OutputFileName.empty()) {
    bool abandon = false, created = false;
    int createError = 0;
    Guarded([&] {
      try {
        auto file = std::make_shared<TkvFileStream>(s_.OutputFileName, t_.ResumePosition == 0, true);
        created = true;
        if (t_.ResumePosition != 0) {
          // A partial file shorter than the resume position cannot be
          // continued from there.
          abandon = file->Size() < t_.ResumePosition ||
                    file->Seek(t_.ResumePosition, soBeginning) != t_.ResumePosition;
        }
        if (!abandon) {
          if (!(s_.Incomplete == TkvFileAttributes{atrArchive})) ApplyFileAttributes(s_.OutputFileName, s_.Incomplete);
          t_.Stream = file;
          t_.StreamIsFile = true;
          t_.OutputFileOpen = true;
        }
      } catch (const Exception&) {
        createError = errno != 0 ? errno : EIO;  // "Cannot create file"
      }
    });
    if (abandon) return AbandonResume();
    if (!created) {
      // Never into memory instead: the caller asked for a file, and an
      // endless body would fill the memory.
      t_.WriteError = createError;
      t_.Success = false;
      return Next::End;
    }
    toMemory = false;
  }
  if (toMemory) {
    auto mem = std::make_shared<TMemoryStream>();
    if (t_.Success && t_.ContentLength > 0) mem->SetCapacity(std::min(t_.ContentLength, kPresizeLimit));
    Guarded([&] {
      t_.Stream = mem;
      t_.StreamIsFile = false;
    });
  }

  bool compareFirst = t_.ResumePosition != 0 && t_.OutputFileOpen;
  t_.BytesTransferred = 0;
  auto buffer = std::make_shared<std::vector<uint8_t>>(block_);
  Guarded([&] { t_.Buffer = buffer; });
  uint8_t* buf = buffer->data();
  for (;;) {
    Check();
    size_t n = 0;
    bool ok = true;
    if (local_) {
      Guarded([&] {
        const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(block_), localLeft_));
        const ssize_t got = want == 0 ? 0 : ::read(t_.LocalFile, buf, want);
        ok = got >= 0;
        n = ok ? static_cast<size_t>(got) : 0;
        localLeft_ -= static_cast<int64_t>(n);
      });
    } else {
      ok = t_.Request->Read(buf, block_, n);
    }
    if (!ok) {
      Check();  // a read cut short by an abort ends as an abort
      t_.ReadFailed = true;
      break;
    }
    if (n == 0) break;
    t_.BytesTransferred += static_cast<int64_t>(n);
    if (compareFirst) {
      // The partial file must hold what the server sends from the resume
      // position on: the bytes it has there are compared, and only what
      // lies beyond its end is written.
      compareFirst = false;
      bool same = true, wrote = false;
      Guarded([&] {
        std::vector<uint8_t> old(n);
        t_.Stream->Seek(t_.ResumePosition, soBeginning);
        const int64_t have = t_.Stream->Read(old.data(), static_cast<int64_t>(n));
        same = have <= 0 || std::memcmp(old.data(), buf, static_cast<size_t>(have)) == 0;
        if (same && have < static_cast<int64_t>(n)) {
          t_.Stream->WriteBuffer(buf + have, static_cast<int64_t>(n) - have);
          wrote = true;
        }
      });
      if (!same) return AbandonResume();
      if (wrote) ReadProgress();
      continue;
    }
    if (!WriteOutput(buf, static_cast<int64_t>(n))) break;
    ReadProgress();
  }
  Guarded([&] { t_.Buffer.reset(); });
  t_.Success = t_.StatusCode == 200 || t_.StatusCode == 206;
  // A read that failed is a lost connection even when no length was
  // announced (a cut chunked body); a clean end without a length is not.
  if (t_.Success && (t_.ReadFailed || t_.WriteError != 0)) t_.Success = false;
  if (t_.Success && t_.ContentLength != 0) t_.Success = t_.ContentLength == t_.BytesTransferred;
  if (t_.Success && t_.StreamIsFile && t_.ResumeEnd == 0 && s_.RangeEnd == 0) {
    // Read to the end of the resource: a partial file that was longer keeps
    // no stale bytes past that end.
    const int64_t end = t_.ResumePosition + t_.BytesTransferred;
    Guarded([&] {
      if (t_.Stream->Size() > end) t_.Stream->SetSize(end);
    });
  }
  return Next::End;
}

bool TRequestWorker::WriteOutput(const uint8_t* Data, int64_t Count) {
  bool ok = true;
  Guarded([&] {
    if (!t_.StreamIsFile) {
      t_.Stream->WriteBuffer(Data, Count);
      return;
    }
    // Written directly, so that the reason of a failure (a full disk, an
    // I/O error) survives to be reported as what it is.
    const int fd = static_cast<THandleStream*>(t_.Stream.get())->Handle();
    int64_t done = 0;
    while (done < Count) {
      const ssize_t n = ::write(fd, Data + done, static_cast<size_t>(Count - done));
      if (n > 0) {
        done += n;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        t_.WriteError = n == 0 ? ENOSPC : errno;
        ok = false;
        return;
      }
    }
  });
  return ok;
}

void TRequestWorker::ReadProgress() {
  Sync([this] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    c.ComputeProgress(t_, t_.ContentLength);
    if (c.OnReadProgress)
      c.OnReadProgress(&c, t_.ContentType, t_.ContentLength + t_.ResumePosition, t_.BytesTransferred + t_.ResumePosition,
                       c.ElapsedTime(), c.EstimatedTimeLeft(), c.PercentsDone(), c.TransferRate(), t_.Stream.get());
  });
}

void TRequestWorker::UploadProgress() {
  Sync([this] {
    TkvCustomHTTP& c = *t_.Owner;
    c.Publish(t_, false);
    c.ComputeProgress(t_, t_.ContentLength);
    if (c.OnUploadProgress)
      c.OnUploadProgress(&c, t_.ContentLength, t_.BytesTransferred, c.ElapsedTime(), c.EstimatedTimeLeft(),
                         c.PercentsDone(), c.TransferRate());
  });
}

}  // namespace kelvora::httpimpl
