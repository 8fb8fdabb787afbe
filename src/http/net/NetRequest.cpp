#include "http/net/NetRequest.h"

#include <arpa/inet.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "http/net/TlsRelax.h"

namespace kelvora::net {

namespace {

constexpr long kCurlBufferSize = 64 * 1024;

bool IsUnsafeInTarget(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
         c == '{' || c == '|' || c == '}';
}

std::string EscapeTarget(const std::string& Object) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  if (Object.empty() || Object[0] != '/') out += '/';
  for (unsigned char c : Object) {
    if (IsUnsafeInTarget(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : Text) {
    if (c == '\r' || c == '\n') {
      if (!cur.empty()) lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

std::string HeaderName(const std::string& Line) {
  size_t colon = Line.find(':');
  std::string name = Line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
  return name;
}

bool SameName(const std::string& A, const std::string& B) { return strcasecmp(A.c_str(), B.c_str()) == 0; }

std::string SchemeOf(const std::string& Url) {
  size_t p = Url.find("://");
  std::string s = p == std::string::npos ? std::string() : Url.substr(0, p);
  for (auto& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ResolveUrl(const std::string& Base, const std::string& Ref, std::string& Out) {
  CURLU* u = curl_url();
  if (u == nullptr) return false;
  bool ok = curl_url_set(u, CURLUPART_URL, Base.c_str(), 0) == CURLUE_OK &&
            curl_url_set(u, CURLUPART_URL, Ref.c_str(), CURLU_URLENCODE) == CURLUE_OK;
  char* s = nullptr;
  if (ok) ok = curl_url_get(u, CURLUPART_URL, &s, 0) == CURLUE_OK;
  if (ok) Out = s;
  curl_free(s);
  curl_url_cleanup(u);
  return ok;
}

// "scheme://host:port" of an absolute URL, lower case and with the scheme's
// default port filled in; "" when it cannot be read.
std::string OriginOf(const std::string& Url) {
  CURLU* u = curl_url();
  if (u == nullptr) return {};
  std::string origin;
  if (curl_url_set(u, CURLUPART_URL, Url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
      origin = std::string(scheme) + "://" + host + ":" + port;
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  for (auto& c : origin) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return origin;
}

bool ContainsWord(const std::string& Text, const char* Word) {
  return strcasestr(Text.c_str(), Word) != nullptr;
}

}  // namespace

TNetRequest::TNetRequest(std::shared_ptr<TNetConnection> Connection, std::string Method, std::string Object,
                         std::string Referer, std::string AcceptTypes, uint32_t Flags, void* Context)
    : connection_(std::move(Connection)),
      session_(connection_->Session()),
      method_(std::move(Method)),
      object_(EscapeTarget(Object)),
      referer_(std::move(Referer)),
      accept_(std::move(AcceptTypes)),
      flags_(Flags),
      context_(Context) {
  const std::string& host = connection_->Host();
  const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
  url_ = (flags_ & flSecure) ? "https://" : "http://";
  if (bracket) url_ += '[';
  url_ += host;
  if (bracket) url_ += ']';
  if (connection_->Port() != 0) url_.append(":").append(std::to_string(connection_->Port()));
  url_ += object_;
  username_ = connection_->Username();
  password_ = connection_->Password();
  loginOrigin_ = OriginOf(url_);
  if (method_.empty()) method_ = "GET";
  session_.Notify(context_, stHandleCreated, nullptr, 0);
}

TNetRequest::~TNetRequest() {
  const bool connectionUsed = easy_ != nullptr && (attached_ || done_);
  Detach();
  if (connectionUsed) {
    std::string conn;
    const bool closes = !(flags_ & flKeepConnection) || !done_ || result_ != CURLE_OK ||
                        (resp_.Find("Connection", conn) && ContainsWord(conn, "close"));
    if (closes) {
      session_.Notify(context_, stClosingConnection, nullptr, 0);
      session_.Notify(context_, stConnectionClosed, nullptr, 0);
    }
  }
  session_.Notify(context_, stHandleClosing, nullptr, 0);
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  curl_slist_free_all(slist_);
}

// --- options and headers ---

bool TNetRequest::SetOption(uint32_t Option, uint32_t Value) {
  switch (Option) {
    case optConnectTimeout: connectTimeout_ = Value; return true;
    case optSendTimeout: sendTimeout_ = Value; return true;
    case optReceiveTimeout: receiveTimeout_ = Value; return true;
    case optSecurityFlags: security_ = Value; return true;
    default: return false;
  }
}

bool TNetRequest::SetOption(uint32_t Option, const std::string& Value) {
  switch (Option) {
    // A login set now belongs to where the request is at now (after any
    // redirect): that is the server that asked for it.
    case optUsername: username_ = Value; loginOrigin_ = OriginOf(url_); return true;
    case optPassword: password_ = Value; loginOrigin_ = OriginOf(url_); return true;
    case optProxyUsername: proxyUsername_ = Value; return true;
    case optProxyPassword: proxyPassword_ = Value; return true;
    default: return false;
  }
}

bool TNetRequest::AddHeaders(const std::string& Text, uint32_t Modifiers) {
  std::vector<std::string> lines = SplitLines(Text);
  for (const auto& line : lines)
    if (line.find(':') == std::string::npos || HeaderName(line).empty()) return Fail(TNetError::InvalidState);
  for (const auto& line : lines) {
    const std::string name = HeaderName(line);
    if (Modifiers & hmReplace) {
      std::string value = line.substr(line.find(':') + 1);
      const bool remove = value.find_first_not_of(" \t") == std::string::npos;
      auto it = std::find_if(headers_.begin(), headers_.end(), [&](const std::string& h) { return SameName(HeaderName(h), name); });
      if (it != headers_.end()) {
        if (remove)
          headers_.erase(it);
        else
          *it = line;
        continue;
      }
      if (remove) continue;
    }
    headers_.push_back(line);
  }
  error_ = TNetError::None;
  return true;
}

// --- sending ---

bool TNetRequest::Send(const std::string& Headers, const void* Data, size_t Length) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = false;
  hasBody_ = Data != nullptr || method_ == "POST" || method_ == "PUT";
  postData_.assign(Data != nullptr ? static_cast<const char*>(Data) : "", Data != nullptr ? Length : 0);
  redirects_ = 0;
  return Run();
}

bool TNetRequest::SendEx(const std::string& Headers, int64_t TotalLength) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = true;
  hasBody_ = true;
  postData_.clear();
  uploadTotal_ = TotalLength < 0 ? 0 : TotalLength;
  redirects_ = 0;
  if (!Start()) return false;
  // Drive the request until libcurl asks for the body (or the server has
  // already answered, or the connection failed).
  if (!Wait([this] { return readWanted_ || headersFinal_; }, Phase::Sending)) return false;
  if (done_ && result_ != CURLE_OK && !resp_.HasStatus()) return FailCurl(result_);
  return true;
}

bool TNetRequest::Write(const void* Data, size_t Count, size_t& Written) {
  Written = 0;
  if (!streaming_ || easy_ == nullptr) return Fail(TNetError::InvalidState);
  if (done_) return result_ != CURLE_OK ? FailCurl(result_) : Fail(TNetError::InvalidState);
  src_ = static_cast<const uint8_t*>(Data);
  srcLeft_ = Count;
  if (sendPaused_) Resume(false, true);
  const bool ok = Wait([this] { return srcLeft_ == 0 || done_; }, Phase::Sending);
  Written = Count - srcLeft_;
  src_ = nullptr;
  srcLeft_ = 0;
  if (!ok) return false;
  if (Written == 0 && Count > 0) return done_ && result_ != CURLE_OK ? FailCurl(result_) : Fail(TNetError::InvalidState);
  return true;
}

bool TNetRequest::End() {
  if (!streaming_ || easy_ == nullptr) return Fail(TNetError::InvalidState);
  if (sent_ < uploadTotal_ && !headersFinal_ && !done_) {
    // The body is incomplete and the server still waits for it: give up
    // the request rather than wait for ever.
    Detach();
    return Fail(TNetError::InvalidState);
  }
  if (!Wait([this] { return headersFinal_; }, Phase::Receiving)) return false;
  if (!FinalHeaders()) return false;
  const int status = resp_.Status();
  if (!(flags_ & flNoAuth)) {
    if (status == 401 && HostLogin() && AuthMask(hostChallenge_) != hostAuthSent_) return Fail(TNetError::ForceRetry);
    if (status == 407 && !proxyUsername_.empty() && AuthMask(proxyChallenge_) != proxyAuthSent_)
      return Fail(TNetError::ForceRetry);
  }
  return true;
}

bool TNetRequest::Run() {
  for (;;) {
    if (!Start()) return false;
    if (!Wait([this] { return headersFinal_; }, Phase::Receiving)) return false;
    if (!FinalHeaders()) return false;
    const int r = FollowRedirect();
    if (r <= 0) return r == 0;
  }
}

// After a wait: true when the final response's headers are in.
bool TNetRequest::FinalHeaders() {
  if (headersFinal_) return true;
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  if (!resp_.Complete()) return FailCurl(done_ ? CURLE_GOT_NOTHING : CURLE_RECV_ERROR);
  headersFinal_ = true;
  return true;
}

bool TNetRequest::Start() {
  error_ = TNetError::None;
  curlCode_ = CURLE_OK;
  if (session_.Cancelled()) return Fail(TNetError::Cancelled);
  if (session_.Offline()) return Fail(TNetError::Offline);
  Detach();
  resp_.Clear();
  responseStarted_ = headersFinal_ = authPending_ = done_ = false;
  result_ = CURLE_OK;
  openedSocket_ = connected_ = false;
  spillPos_ = spillEnd_ = 0;
  recvPaused_ = sendPaused_ = false;
  discard_ = false;
  discarded_ = 0;
  bodyError_ = TNetError::None;
  src_ = nullptr;
  srcLeft_ = 0;
  sent_ = 0;
  readWanted_ = false;
  if (easy_ == nullptr) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) return FailCurl(CURLE_OUT_OF_MEMORY);
  }
  Configure();
  CURLM* multi = session_.Multi();
  if (curl_multi_add_handle(multi, easy_) != CURLM_OK) return FailCurl(CURLE_FAILED_INIT);
  attached_ = true;
  return true;
}

long TNetRequest::AuthMask(const std::string& Challenge) const {
  if (ContainsWord(Challenge, "digest")) return CURLAUTH_DIGEST;
  if (ContainsWord(Challenge, "basic")) return CURLAUTH_BASIC;
  return CURLAUTH_BASIC | CURLAUTH_DIGEST;
}

// The login goes only to the scheme, host and port it was given for: a
// redirect elsewhere is followed without it.
bool TNetRequest::HostLogin() const {
  return (!username_.empty() || !password_.empty()) && !loginOrigin_.empty() && OriginOf(url_) == loginOrigin_;
}

void TNetRequest::Configure() {
  CURL* e = easy_;
  curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kCurlBufferSize);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer_);
  errorBuffer_[0] = 0;
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, session_.Agent().empty() ? nullptr : session_.Agent().c_str());
  curl_easy_setopt(e, CURLOPT_REFERER, referer_.empty() ? nullptr : referer_.c_str());

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TNetRequest::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TNetRequest::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &TNetRequest::OnOpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &TNetRequest::OnPrereq);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout_));
  // A body that drips (a byte now and then keeps the idle limit of the wait
  // from running out) is ended by libcurl's low-speed limit: under
  // kLowSpeedLimit bytes a second over a whole receive time-out.
  const long lowSpeedSeconds = receiveTimeout_ == 0 ? 0L : static_cast<long>((receiveTimeout_ + 999) / 1000);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, lowSpeedSeconds != 0 ? kLowSpeedLimit : 0L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);

  // Proxy: the preconfigured one comes from the usual *_proxy variables,
  // which libcurl reads when no proxy is set.
  switch (session_.Access()) {
    case TAccessType::Direct:
      curl_easy_setopt(e, CURLOPT_PROXY, "");
      break;
    case TAccessType::Proxy:
      curl_easy_setopt(e, CURLOPT_PROXY, session_.Proxy().c_str());
      curl_easy_setopt(e, CURLOPT_NOPROXY, session_.NoProxy().c_str());
      break;
    case TAccessType::Preconfig:
      curl_easy_setopt(e, CURLOPT_PROXY, nullptr);
      curl_easy_setopt(e, CURLOPT_NOPROXY, nullptr);
      break;
  }
  const bool noAuth = (flags_ & flNoAuth) != 0;
  proxyAuthSent_ = 0;
  if (!noAuth && !proxyUsername_.empty()) {
    proxyAuthSent_ = AuthMask(proxyChallenge_);
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, proxyUsername_.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, proxyPassword_.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, proxyAuthSent_);
  } else {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, nullptr);
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, nullptr);
  }
  // Server login: offered only to the scheme the server challenged for (both
  // Basic and Digest before any challenge, which makes libcurl ask first).
  hostAuthSent_ = 0;
  if (!noAuth && HostLogin()) {
    hostAuthSent_ = AuthMask(hostChallenge_);
    curl_easy_setopt(e, CURLOPT_USERNAME, username_.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password_.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, hostAuthSent_);
  } else {
    curl_easy_setopt(e, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(e, CURLOPT_PASSWORD, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  }

  // Certificates: checked unless a flag relaxes exactly one check.
  uint32_t relax = security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  if (flags_ & flIgnoreCertDateInvalid) relax |= secIgnoreCertDateInvalid;
  if (flags_ & flIgnoreCertCNInvalid) relax |= secIgnoreCertCNInvalid;
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (relax & secIgnoreCertCNInvalid) ? 0L : 2L);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, nullptr);
  InstallRelaxedVerify(e, relax);
  // A connection set up with relaxed checks must never serve a strict
  // request later, and no TLS session is resumed across that boundary.
  const bool fresh = !(flags_ & flKeepConnection) || relax != 0;
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, fresh ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, relax != 0 ? 0L : 1L);

  // Cookies live in the client's store; the engine is switched on per
  // handle.
  if (!(flags_ & flNoCookies)) {
    curl_easy_setopt(e, CURLOPT_SHARE, session_.Client().CookieShare());
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  }

  // Method and body.
  curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  if (!hasBody_) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (method_ == "HEAD")
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    else if (method_ != "GET")
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method_.c_str());
  } else {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    if (streaming_) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, nullptr);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(uploadTotal_));
      curl_easy_setopt(e, CURLOPT_READFUNCTION, &TNetRequest::OnUpload);
      curl_easy_setopt(e, CURLOPT_READDATA, this);
    } else {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData_.size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, postData_.data());
    }
    if (method_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }

  // Header lines: libcurl's Accept replaced by ours, no "Expect", the cache
  // flags as request headers, then the caller's lines.
  curl_slist_free_all(slist_);
  slist_ = nullptr;
  auto add = [this](const std::string& line) {
    if (curl_slist* n = curl_slist_append(slist_, line.c_str())) slist_ = n;
  };
  add(accept_.empty() ? "Accept:" : "Accept: " + accept_);
  add("Expect:");
  if (flags_ & flPragmaNoCache) add("Pragma: no-cache");
  if (flags_ & flReload) add("Cache-Control: no-cache");
  for (const auto& h : headers_) add(h);
  for (const auto& h : sendHeaders_) add(h);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, slist_);
}

void TNetRequest::Detach() {
  if (attached_) {
    curl_multi_remove_handle(session_.Multi(), easy_);
    attached_ = false;
  }
}

void TNetRequest::Resume(bool Recv, bool Send) {
  if (Recv) recvPaused_ = false;
  if (Send) sendPaused_ = false;
  int mask = (recvPaused_ ? CURLPAUSE_RECV : 0) | (sendPaused_ ? CURLPAUSE_SEND : 0);
  // May deliver held-back data into the callbacks before it returns.
  curl_easy_pause(easy_, mask);
}

// Runs the transfer on this thread until Ready() holds, the transfer ended,
// the session was cancelled or a time-out ran out.
bool TNetRequest::Wait(const std::function<bool()>& Ready, Phase P) {
  activity_ = Clock::now();
  CURLM* multi = session_.Multi();
  for (;;) {
    if (session_.Cancelled()) return Fail(TNetError::Cancelled);
    if (attached_) {
      int running = 0;
      CURLMcode mc = curl_multi_perform(multi, &running);
      if (mc != CURLM_OK && mc != CURLM_CALL_MULTI_PERFORM) return FailCurl(CURLE_FAILED_INIT);
      CollectDone(multi);
    }
    if (Ready() || done_ || !attached_) return true;
    const uint32_t limit = !connected_ ? 0 : P == Phase::Sending ? sendTimeout_ : receiveTimeout_;
    int waitMs = 1000;
    if (limit != 0) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - activity_).count();
      if (idle >= limit) return Fail(TNetError::Timeout);
      waitMs = static_cast<int>(std::min<int64_t>(waitMs, limit - idle));
    }
    curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
}

void TNetRequest::CollectDone(CURLM* Multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(Multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    done_ = true;
    result_ = msg->data.result;
    if (authPending_ && resp_.Complete()) {
      authPending_ = false;
      headersFinal_ = true;
    }
  }
  if (done_) Detach();
}

int TNetRequest::FollowRedirect() {
  const int s = resp_.Status();
  if (s != 301 && s != 302 && s != 303 && s != 307 && s != 308) return 0;
  if ((flags_ & flNoAutoRedirect) || streaming_) return 0;
  std::string location, target;
  if (!resp_.Find("Location", location) || location.empty() || !ResolveUrl(url_, location, target)) return 0;
  const std::string to = SchemeOf(target);
  if (to != "http" && to != "https") return 0;
  if (SchemeOf(url_) == "https" && to == "http" && !(flags_ & flIgnoreRedirectToHTTP)) {
    Fail(TNetError::RedirectRefused);
    return -1;
  }
  if (++redirects_ > kMaxRedirects) {
    Fail(TNetError::TooManyRedirects);
    return -1;
  }
  session_.NotifyText(context_, stRedirect, target);
  DrainForRedirect();
  if (s == 303 || ((s == 301 || s == 302) && method_ == "POST")) {
    method_ = "GET";
    hasBody_ = false;
    postData_.clear();
  }
  url_ = target;
  return 1;
}

// Reads and drops a short redirect body so that its connection can serve the
// next request; a long one is cut off with its connection.
void TNetRequest::DrainForRedirect() {
  if (done_ || !attached_) return;
  discard_ = true;
  spillPos_ = spillEnd_ = 0;
  if (recvPaused_) Resume(true, false);
  const TNetError keep = error_;
  Wait([this] { return discarded_ > kRedirectDrainLimit; }, Phase::Receiving);
  error_ = keep;
  Detach();
}

// --- reading ---

bool TNetRequest::QueryInfo(uint32_t Level, std::string& Value, size_t BufferSize) const {
  if (!headersFinal_) return false;
  std::string v;
  if (!resp_.Query(Level, v)) return false;
  if (v.size() + 1 > BufferSize) return false;
  Value = std::move(v);
  return true;
}

bool TNetRequest::Read(void* Buffer, size_t Size, size_t& BytesRead) {
  BytesRead = 0;
  if (easy_ == nullptr || !headersFinal_) return Fail(TNetError::InvalidState);
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t n = 0;
  if (spillPos_ < spillEnd_) {
    n = std::min(Size, spillEnd_ - spillPos_);
    std::memcpy(out, spill_.data() + spillPos_, n);
    spillPos_ += n;
    if (spillPos_ == spillEnd_) spillPos_ = spillEnd_ = 0;
  }
  if (n < Size && bodyError_ == TNetError::None && !done_) {
    dest_ = out;
    destRoom_ = Size;
    destFill_ = n;
    // Resumed only once the held-back bytes are gone, so that what libcurl
    // kept while paused fits again.
    if (recvPaused_ && spillPos_ == spillEnd_) Resume(true, false);
    const bool ok = Wait([this] { return destFill_ >= destRoom_; }, Phase::Receiving);
    n = destFill_;
    dest_ = nullptr;
    destRoom_ = destFill_ = 0;
    if (!ok) {
      // Hand out what arrived; the failure comes with the next call.
      bodyError_ = error_;
      bodyCurl_ = curlCode_;
      if (n == 0) return false;
      error_ = TNetError::None;
    }
  }
  BytesRead = n;
  if (n > 0) return true;
  if (bodyError_ != TNetError::None) {
    error_ = bodyError_;
    curlCode_ = bodyCurl_;
    return false;
  }
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  error_ = TNetError::None;
  return true;
}

// --- errors and figures ---

bool TNetRequest::Fail(TNetError Error) {
  error_ = Error;
  if (Error != TNetError::Transport) curlCode_ = CURLE_OK;
  return false;
}

bool TNetRequest::FailCurl(CURLcode Code) {
  error_ = TNetError::Transport;
  curlCode_ = Code;
  return false;
}

std::string TNetRequest::ErrorText() const {
  if (error_ != TNetError::Transport) return NetErrorText(error_);
  std::string s = curl_easy_strerror(curlCode_);
  if (errorBuffer_[0] != 0) s += std::string(": ") + errorBuffer_;
  return s;
}

long TNetRequest::NewConnections() const {
  long n = 0;
  if (easy_ != nullptr) curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &n);
  return n;
}

// --- libcurl callbacks (on the thread that drives the request) ---

size_t TNetRequest::OnHeader(char* Data, size_t Size, size_t Count, void* Self) {
  auto* r = static_cast<TNetRequest*>(Self);
  const size_t len = Size * Count;
  r->activity_ = Clock::now();
  if (len >= 5 && std::memcmp(Data, "HTTP/", 5) == 0 && !r->responseStarted_) {
    r->responseStarted_ = true;
    r->session_.Notify(r->context_, stRequestSent, nullptr, 0);
    r->session_.Notify(r->context_, stReceivingResponse, nullptr, 0);
  }
  if (!r->resp_.AddLine(Data, len)) return len;
  const int status = r->resp_.Status();
  if (status >= 100 && status < 200) {
    r->session_.Notify(r->context_, stIntermediateResponse, nullptr, 0);
    return len;
  }
  r->session_.Notify(r->context_, stResponseReceived, nullptr, 0);
  r->responseStarted_ = false;
  const bool noAuth = (r->flags_ & flNoAuth) != 0;
  if (status == 401) r->hostChallenge_ = r->resp_.JoinAll("WWW-Authenticate");
  if (status == 407) r->proxyChallenge_ = r->resp_.JoinAll("Proxy-Authenticate");
  // libcurl answers a challenge itself when it holds a login; its own round
  // shows as a new status line, so wait for the body or the end first.
  if (!noAuth && ((status == 401 && r->HostLogin()) || (status == 407 && !r->proxyUsername_.empty())))
    r->authPending_ = true;
  else
    r->headersFinal_ = true;
  return len;
}

size_t TNetRequest::OnBody(char* Data, size_t Size, size_t Count, void* Self) {
  auto* r = static_cast<TNetRequest*>(Self);
  const size_t len = Size * Count;
  r->activity_ = Clock::now();
  if (r->authPending_) {
    r->authPending_ = false;
    r->headersFinal_ = true;
  }
  if (r->discard_) {
    r->discarded_ += len;
    return len;
  }
  size_t k = 0;
  if (r->dest_ != nullptr && r->destFill_ < r->destRoom_ && r->spillPos_ == r->spillEnd_) {
    k = std::min(len, r->destRoom_ - r->destFill_);
    std::memcpy(r->dest_ + r->destFill_, Data, k);
    r->destFill_ += k;
  }
  const size_t rest = len - k;
  if (rest == 0) return len;
  if (r->spill_.size() < kHoldBack) r->spill_.resize(kHoldBack);
  if (r->spillEnd_ + rest > r->spill_.size() && r->spillPos_ > 0) {
    std::memmove(r->spill_.data(), r->spill_.data() + r->spillPos_, r->spillEnd_ - r->spillPos_);
    r->spillEnd_ -= r->spillPos_;
    r->spillPos_ = 0;
  }
  if (r->spillEnd_ + rest > r->spill_.size()) {
    // Nothing of this chunk was taken (the caller's block is full, or the
    // held-back bytes come first): libcurl keeps it until resumed.
    if (k == 0) {
      r->recvPaused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    // Cannot happen: with room in the block the buffer is empty, and a chunk
    // is far smaller than the buffer. Keep every byte all the same.
    r->spill_.resize(r->spillEnd_ + rest);
  }
  std::memcpy(r->spill_.data() + r->spillEnd_, Data + k, rest);
  r->spillEnd_ += rest;
  return len;
}

size_t TNetRequest::OnUpload(char* Data, size_t Size, size_t Count, void* Self) {
  auto* r = static_cast<TNetRequest*>(Self);
  r->activity_ = Clock::now();
  r->readWanted_ = true;
  if (r->srcLeft_ == 0) {
    if (r->sent_ >= r->uploadTotal_) return 0;
    r->sendPaused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t k = std::min(Size * Count, r->srcLeft_);
  std::memcpy(Data, r->src_, k);
  r->src_ += k;
  r->srcLeft_ -= k;
  r->sent_ += static_cast<int64_t>(k);
  return k;
}

curl_socket_t TNetRequest::OnOpenSocket(void* Self, curlsocktype, struct curl_sockaddr* Address) {
  auto* r = static_cast<TNetRequest*>(Self);
  if (!r->openedSocket_) {
    r->openedSocket_ = true;
    char ip[INET6_ADDRSTRLEN] = {};
    const sockaddr* sa = &Address->addr;
    if (sa->sa_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, ip, sizeof ip);
    else if (sa->sa_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, ip, sizeof ip);
    std::string host = r->connection_->Host();
    r->session_.NotifyText(r->context_, stResolvingName, host);
    r->session_.NotifyText(r->context_, stNameResolved, ip);
    r->session_.NotifyText(r->context_, stConnectingToServer, ip);
  }
  return ::socket(Address->family, Address->socktype | SOCK_CLOEXEC, Address->protocol);
}

int TNetRequest::OnPrereq(void* Self, char* PrimaryIp, char*, int, int) {
  auto* r = static_cast<TNetRequest*>(Self);
  r->connected_ = true;
  r->activity_ = Clock::now();
  if (r->openedSocket_) {
    r->openedSocket_ = false;
    r->session_.NotifyText(r->context_, stConnectedToServer, PrimaryIp != nullptr ? PrimaryIp : "");
  }
  r->session_.Notify(r->context_, stSendingRequest, nullptr, 0);
  return CURL_PREREQFUNC_OK;
}

}  // namespace kelvora::net
