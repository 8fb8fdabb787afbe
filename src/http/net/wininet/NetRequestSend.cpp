// TNetRequest over WinInet: opening each hop, sending (with a body, or an
// upload in blocks), following redirects and pulling the body.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <limits>
#include <vector>

#include "http/net/HeaderLines.h"
#include "http/net/NetRequest.h"
#include "http/net/wininet/HopTarget.h"
#include "framework/win32/Wide.h"

namespace kelvora::net {

namespace {

// Request flags WinInet is given as they are; the cache flags are not among
// them: like the libcurl layer this one never answers from a cache, and the
// two no-cache flags become header lines.
constexpr uint32_t kPassedFlags = flIgnoreCertCNInvalid | flIgnoreCertDateInvalid | flIgnoreRedirectToHTTPS |
                                  flIgnoreRedirectToHTTP | flNoAuth | flNoCookies | flKeepConnection;

void SetNumber(HINTERNET H, DWORD Option, uint32_t Value) {
  DWORD v = Value;
  InternetSetOptionW(H, Option, &v, sizeof v);
}

std::string Base64(const std::string& In) {
  static const char t[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < In.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(In[i]) << 16) | (static_cast<unsigned char>(In[i + 1]) << 8) |
                       static_cast<unsigned char>(In[i + 2]);
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], t[v & 63]};
  }
  if (i + 1 == In.size()) {
    const unsigned v = static_cast<unsigned char>(In[i]) << 16;
    out += {t[v >> 18], t[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == In.size()) {
    const unsigned v = (static_cast<unsigned char>(In[i]) << 16) | (static_cast<unsigned char>(In[i + 1]) << 8);
    out += {t[v >> 18], t[(v >> 12) & 63], t[(v >> 6) & 63], '='};
  }
  return out;
}

std::string SchemeOf(const std::string& Url) {
  size_t p = Url.find("://");
  std::string s = p == std::string::npos ? std::string() : Url.substr(0, p);
  for (auto& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void TNetRequest::CloseHop() {
  session_.Close(request_);
  session_.Close(connect_);
}

// Opens the connection and request handles of a hop to url_ and sets its
// options and header lines.
bool TNetRequest::Open() {
  error_ = TNetError::None;
  systemError_ = 0;
  if (session_.Cancelled()) return Fail(TNetError::Cancelled);
  if (session_.Offline()) return Fail(TNetError::Offline);
  CloseHop();
  resp_.Clear();
  cutHeaders_.clear();
  headersFinal_ = ended_ = lengthKnown_ = false;
  length_ = received_ = sent_ = 0;
  bodyError_ = TNetError::None;
  bodySystem_ = 0;
  seen_ = 0;
  THopTarget hop;
  if (!CrackHop(url_, hop) || (hop.Scheme != "http" && hop.Scheme != "https")) return Fail(TNetError::BadUrl);
  hopHost_ = hop.Host;
  HINTERNET internet = session_.Internet();
  if (internet == nullptr) return session_.Cancelled() ? Fail(TNetError::Cancelled) : FailLast();
  const auto ctx = reinterpret_cast<DWORD_PTR>(this);
  connect_ = InternetConnectW(internet, win32::Wide(hop.Host).c_str(), hop.Port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, ctx);
  if (connect_ == nullptr) return FailLast();
  if (!session_.Adopt(connect_)) {
    connect_ = nullptr;
    return Fail(TNetError::Cancelled);
  }
  const bool secure = hop.Scheme == "https";
  // Logins are sent by this class (Basic, to the origin they were given
  // for): WinInet's own would keep them per host for every later request.
  DWORD flags = (flags_ & kPassedFlags) | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD |
                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
  if (secure) flags |= INTERNET_FLAG_SECURE;
  const std::wstring accept = win32::Wide(accept_);
  const wchar_t* acceptList[] = {accept.c_str(), nullptr};
  request_ = HttpOpenRequestW(connect_, win32::Wide(method_).c_str(), win32::Wide(hop.Object).c_str(), nullptr,
                              referer_.empty() ? nullptr : win32::Wide(referer_).c_str(),
                              accept_.empty() ? nullptr : acceptList, flags, ctx);
  if (request_ == nullptr) return FailLast();
  if (!session_.Adopt(request_)) {
    request_ = nullptr;
    return Fail(TNetError::Cancelled);
  }
  if (connectTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeout_);
  if (sendTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_SEND_TIMEOUT, sendTimeout_);
  if (receiveTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout_);
  const uint32_t relax = security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  if (secure && relax != 0) {
    DWORD current = 0, size = sizeof current;
    InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &current, &size);
    SetNumber(request_, INTERNET_OPTION_SECURITY_FLAGS, current | relax);
  }
  // A login goes only after a Basic challenge of the server (or proxy).
  const bool noAuth = (flags_ & flNoAuth) != 0;
  loginSent_ = !noAuth && HostLogin() && ContainsWord(hostChallenge_, "basic");
  proxyLoginSent_ = !noAuth && !proxyUsername_.empty() && ContainsWord(proxyChallenge_, "basic");
  if (!AddHopHeaders()) return FailLast();
  used_ = true;
  return true;
}

bool TNetRequest::AddHopHeaders() {
  std::vector<std::string> lines;
  if (flags_ & flPragmaNoCache) lines.push_back("Pragma: no-cache");
  if (flags_ & flReload) lines.push_back("Cache-Control: no-cache");
  // A connection not to be kept, or one made with relaxed certificate
  // checks (which must never serve a strict request later), is closed after
  // this answer.
  const uint32_t relax = (security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid)) |
                         (flags_ & (flIgnoreCertCNInvalid | flIgnoreCertDateInvalid));
  if (!(flags_ & flKeepConnection) || relax != 0) lines.push_back("Connection: close");
  if (loginSent_) lines.push_back("Authorization: Basic " + Base64(username_ + ":" + password_));
  if (proxyLoginSent_) lines.push_back("Proxy-Authorization: Basic " + Base64(proxyUsername_ + ":" + proxyPassword_));
  lines.insert(lines.end(), headers_.begin(), headers_.end());
  lines.insert(lines.end(), sendHeaders_.begin(), sendHeaders_.end());
  for (const auto& line : lines) {
    const std::wstring w = win32::Wide(line + "\r\n");
    if (!HttpAddRequestHeadersW(request_, w.c_str(), static_cast<DWORD>(w.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
      return false;
  }
  return true;
}

bool TNetRequest::Send(const std::string& Headers, const void* Data, size_t Length) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = false;
  hasBody_ = Data != nullptr || method_ == "POST" || method_ == "PUT";
  postData_.assign(Data != nullptr ? static_cast<const char*>(Data) : "", Data != nullptr ? Length : 0);
  redirects_ = 0;
  newConnections_ = 0;
  return Run();
}

bool TNetRequest::Run() {
  for (;;) {
    if (!Open()) return false;
    sending_ = true;
    const auto start = std::chrono::steady_clock::now();
    const BOOL ok = HttpSendRequestW(request_, nullptr, 0, hasBody_ ? postData_.data() : nullptr,
                                     hasBody_ ? static_cast<DWORD>(postData_.size()) : 0);
    sending_ = false;
    if (!ok) return FailSend(start);
    if (!ResponseIn() || !CheckedAsAsked()) return false;
    if (LoginAsked()) continue;
    const int r = FollowRedirect();
    if (r <= 0) return r == 0;
  }
}

// Reads the headers of the answer that just came in.
bool TNetRequest::ResponseIn() {
  std::vector<wchar_t> buf(16384);
  DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t)), index = 0;
  if (!HttpQueryInfoW(request_, HTTP_QUERY_RAW_HEADERS_CRLF, buf.data(), &size, &index)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return FailLast();
    buf.resize(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    index = 0;
    if (!HttpQueryInfoW(request_, HTTP_QUERY_RAW_HEADERS_CRLF, buf.data(), &size, &index)) return FailLast();
  }
  const std::string raw = win32::Utf8(std::wstring(buf.data(), size / sizeof(wchar_t)));
  size_t pos = 0;
  while (pos < raw.size()) {
    size_t eol = raw.find('\n', pos);
    if (eol == std::string::npos) eol = raw.size();
    resp_.AddLine(raw.data() + pos, eol - pos);
    // WinInet cuts a header line at kLineLimit characters without a word: a
    // line that long may have lost its end, so its header counts as absent
    // rather than carry a wrong value.
    const size_t len = eol - pos - (eol > pos && raw[eol - 1] == '\r' ? 1 : 0);
    const size_t colon = raw.find(':', pos);
    if (pos != 0 && len >= kLineLimit && colon < eol) cutHeaders_.push_back(Lower(raw.substr(pos, colon - pos)));
    pos = eol + 1;
  }
  if (!resp_.Complete()) resp_.AddLine("", 0);
  if (!resp_.HasStatus()) return Fail(TNetError::Transport, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  // WinInet takes an answer without a status line for an old-style one and
  // makes up "HTTP/1.0 200 OK" without a single header for it: refused, so
  // that such text never passes for a resource. (A real answer without any
  // header is refused with it; servers send at least a length or a type.)
  if (resp_.RawCRLF() == resp_.StatusLine() + "\r\n\r\n") {
    CloseHop();
    return Fail(TNetError::Transport, ERROR_HTTP_INVALID_HEADER);
  }
  headersFinal_ = true;
  // The scheme a login set later is to be offered to.
  if (resp_.Status() == 401) hostChallenge_ = resp_.JoinAll("WWW-Authenticate");
  if (resp_.Status() == 407) proxyChallenge_ = resp_.JoinAll("Proxy-Authenticate");
  std::string len;
  if (resp_.Find("Content-Length", len) && resp_.Status() != 204 && resp_.Status() != 304 && method_ != "HEAD") {
    int64_t n = 0;
    auto [p, ec] = std::from_chars(len.data(), len.data() + len.size(), n);
    lengthKnown_ = ec == std::errc() && p == len.data() + len.size() && n >= 0;
    length_ = lengthKnown_ ? n : 0;
  }
  return true;
}

// WinInet remembers a server whose certificate was once accepted with relaxed
// checks, and lets later connections to it pass the same way. A request that
// did not ask for a relaxation must not get it: its answer is refused.
bool TNetRequest::CheckedAsAsked() {
  if (SchemeOf(url_) != "https") return true;
  DWORD flags = 0, size = sizeof flags;
  if (!InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) return true;
  uint32_t asked = security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  asked |= flags_ & (flIgnoreCertCNInvalid | flIgnoreCertDateInvalid);
  const uint32_t relaxed = flags & (SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  if ((relaxed & ~asked) == 0) return true;
  CloseHop();
  headersFinal_ = false;
  return Fail(TNetError::Transport, ERROR_INTERNET_SEC_CERT_ERRORS);
}

// A 401 or 407 whose Basic challenge a login the request holds (and did not
// send) can answer: the request is to go again with it.
bool TNetRequest::LoginAsked() {
  if (flags_ & flNoAuth) return false;
  const int status = resp_.Status();
  if (status == 401 && HostLogin() && !loginSent_) return ContainsWord(hostChallenge_, "basic");
  if (status == 407 && !proxyUsername_.empty() && !proxyLoginSent_) return ContainsWord(proxyChallenge_, "basic");
  return false;
}

// A failed send. Some WinInet versions report a receive time-out that ran
// out while waiting for the answer as a lost connection: one that failed only
// after the whole time-out is taken for what it is.
bool TNetRequest::FailSend(std::chrono::steady_clock::time_point Start) {
  const DWORD e = GetLastError();
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  if (!session_.Cancelled() && receiveTimeout_ != 0 && waited >= receiveTimeout_ &&
      (e == ERROR_INTERNET_CONNECTION_ABORTED || e == WSAETIMEDOUT))
    return Fail(TNetError::Timeout, e);
  SetLastError(e);
  return FailLast();
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
  if (s == 303 || ((s == 301 || s == 302) && method_ == "POST")) {
    method_ = "GET";
    hasBody_ = false;
    postData_.clear();
  }
  url_ = target;
  return 1;
}

bool TNetRequest::SendEx(const std::string& Headers, int64_t TotalLength) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = true;
  hasBody_ = true;
  postData_.clear();
  uploadTotal_ = std::clamp<int64_t>(TotalLength, 0, std::numeric_limits<DWORD>::max());
  redirects_ = 0;
  newConnections_ = 0;
  if (!Open()) return false;
  INTERNET_BUFFERSW in{};
  in.dwStructSize = sizeof in;
  in.dwBufferTotal = static_cast<DWORD>(uploadTotal_);
  sending_ = true;
  const BOOL ok = HttpSendRequestExW(request_, &in, nullptr, HSR_INITIATE, 0);
  sending_ = false;
  return ok ? true : FailLast();
}

bool TNetRequest::Write(const void* Data, size_t Count, size_t& Written) {
  Written = 0;
  if (!streaming_ || request_ == nullptr || headersFinal_) return Fail(TNetError::InvalidState);
  const size_t want = std::min<size_t>({Count, static_cast<size_t>(uploadTotal_ - sent_), 1u << 30});
  DWORD n = 0;
  if (want > 0 && !InternetWriteFile(request_, Data, static_cast<DWORD>(want), &n)) return FailLast();
  Written = n;
  sent_ += n;
  if (n == 0 && Count > 0) return Fail(TNetError::InvalidState);
  return true;
}

bool TNetRequest::End() {
  if (!streaming_ || request_ == nullptr) return Fail(TNetError::InvalidState);
  if (sent_ < uploadTotal_) {
    // The body is incomplete and the server still waits for it: give up
    // the request rather than wait for ever.
    CloseHop();
    return Fail(TNetError::InvalidState);
  }
  sending_ = true;
  const BOOL ok = HttpEndRequestW(request_, nullptr, 0, 0);
  sending_ = false;
  if (!ok) return FailLast();
  if (!ResponseIn() || !CheckedAsAsked()) return false;
  // A login the request holds but did not offer: send again with it.
  if (LoginAsked()) return Fail(TNetError::ForceRetry, ERROR_INTERNET_FORCE_RETRY);
  return true;
}

// Waits until body bytes can be read without blocking (Available > 0) or
// the body has ended (0).
bool TNetRequest::WaitForData(DWORD& Available) {
  if (session_.Cancelled()) return Fail(TNetError::Cancelled);
  Available = 0;
  return InternetQueryDataAvailable(request_, &Available, 0, 0) ? true : FailLast();
}

bool TNetRequest::Read(void* Buffer, size_t Size, size_t& BytesRead) {
  BytesRead = 0;
  if (request_ == nullptr || !headersFinal_) {
    return session_.Cancelled() ? Fail(TNetError::Cancelled) : Fail(TNetError::InvalidState);
  }
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t n = 0;
  while (n < Size && !ended_ && bodyError_ == TNetError::None) {
    if (lengthKnown_ && received_ >= length_) {
      ended_ = true;  // bytes beyond the announced length are not the body's
      break;
    }
    // Only what has arrived is read: a read that has to wait for more and
    // then fails would lose what it had received.
    DWORD available = 0;
    if (!WaitForData(available)) {
      bodyError_ = error_;
      bodySystem_ = systemError_;
      break;
    }
    DWORD got = 0;
    if (available > 0) {
      size_t room = std::min<size_t>({Size - n, available, 1u << 30});
      if (lengthKnown_) room = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), length_ - received_));
      if (!InternetReadFile(request_, out + n, static_cast<DWORD>(room), &got)) {
        FailLast();
        bodyError_ = error_;
        bodySystem_ = systemError_;
        break;
      }
    }
    if (got == 0) {
      // WinInet ends a body cut short like a complete one: the announced
      // length tells them apart.
      if (lengthKnown_ && received_ < length_) {
        bodyError_ = TNetError::Transport;
        bodySystem_ = ERROR_INTERNET_CONNECTION_RESET;
      } else {
        ended_ = true;
      }
      break;
    }
    n += got;
    received_ += got;
  }
  BytesRead = n;
  if (n > 0) {
    // Hand out what arrived; a failure comes with the next call.
    error_ = TNetError::None;
    systemError_ = 0;
    return true;
  }
  if (bodyError_ != TNetError::None) return Fail(bodyError_, bodySystem_);
  error_ = TNetError::None;
  return true;
}

}  // namespace kelvora::net
