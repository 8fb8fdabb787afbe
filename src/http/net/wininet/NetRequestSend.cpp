// TNetRequest over WinInet: opening each hop, sending (with a body, or an
// upload in blocks) and pulling the body.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <chrono>
#include <limits>
#include <vector>

#include "http/net/HeaderLines.h"
#include "http/net/wininet/NetRequestImpl.h"
#include "http/net/wininet/NetSessionImpl.h"
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

}  // namespace

void TNetRequest::Impl::CloseHop() {
  r.session_.Backend().Close(request_);
  r.session_.Backend().Close(connect_);
}

// Opens the connection and request handles of a hop to r.url_ and sets its
// options and header lines.
bool TNetRequest::Impl::Open() {
  r.error_ = TNetError::None;
  r.systemError_ = 0;
  if (r.session_.Cancelled()) return r.Fail(TNetError::Cancelled);
  if (r.session_.Offline()) return r.Fail(TNetError::Offline);
  CloseHop();
  r.resp_.Clear();
  r.cutHeaders_.clear();
  r.headersFinal_ = ended_ = lengthKnown_ = false;
  length_ = received_ = r.sent_ = 0;
  bodyError_ = TNetError::None;
  bodySystem_ = 0;
  seen_ = 0;
  THopTarget hop;
  if (!CrackHop(r.url_, hop) || (hop.Scheme != "http" && hop.Scheme != "https")) return r.Fail(TNetError::BadUrl);
  hopHost_ = hop.Host;
  HINTERNET internet = r.session_.Backend().Internet();
  if (internet == nullptr) return r.session_.Cancelled() ? r.Fail(TNetError::Cancelled) : FailLast();
  // Each open handle holds the state until its closing notification.
  const auto ctx = reinterpret_cast<DWORD_PTR>(state_);
  state_->AddRef();
  connect_ = InternetConnectW(internet, win32::Wide(hop.Host).c_str(), hop.Port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, ctx);
  if (connect_ == nullptr) {
    state_->Release();
    return FailLast();
  }
  if (!r.session_.Backend().Adopt(connect_)) {
    connect_ = nullptr;
    return r.Fail(TNetError::Cancelled);
  }
  const bool secure = hop.Scheme == "https";
  // Logins are sent by this class (Basic, to the origin they were given
  // for): WinInet's own would keep them per host for every later request.
  DWORD flags = (r.flags_ & kPassedFlags) | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD |
                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI;
  if (secure) flags |= INTERNET_FLAG_SECURE;
  const std::wstring accept = win32::Wide(r.accept_);
  const wchar_t* acceptList[] = {accept.c_str(), nullptr};
  state_->AddRef();
  request_ = HttpOpenRequestW(connect_, win32::Wide(r.method_).c_str(), win32::Wide(hop.Object).c_str(), nullptr,
                              r.referer_.empty() ? nullptr : win32::Wide(r.referer_).c_str(),
                              r.accept_.empty() ? nullptr : acceptList, flags, ctx);
  if (request_ == nullptr) {
    state_->Release();
    return FailLast();
  }
  if (!r.session_.Backend().Adopt(request_)) {
    request_ = nullptr;
    return r.Fail(TNetError::Cancelled);
  }
  if (r.connectTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_CONNECT_TIMEOUT, r.connectTimeout_);
  if (r.sendTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_SEND_TIMEOUT, r.sendTimeout_);
  if (r.receiveTimeout_ != 0) SetNumber(request_, INTERNET_OPTION_RECEIVE_TIMEOUT, r.receiveTimeout_);
  const uint32_t relax = r.security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  if (secure && relax != 0) {
    DWORD current = 0, size = sizeof current;
    InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &current, &size);
    SetNumber(request_, INTERNET_OPTION_SECURITY_FLAGS, current | relax);
  }
  // A login goes only after a Basic challenge of the server (or proxy).
  const bool noAuth = (r.flags_ & flNoAuth) != 0;
  loginSent_ = !noAuth && r.HostLogin() && ContainsWord(r.hostChallenge_, "basic");
  proxyLoginSent_ = !noAuth && !r.proxyUsername_.empty() && ContainsWord(r.proxyChallenge_, "basic");
  if (!AddHopHeaders()) return FailLast();
  used_ = true;
  return true;
}

bool TNetRequest::Impl::AddHopHeaders() {
  std::vector<std::string> lines;
  if (r.flags_ & flPragmaNoCache) lines.push_back("Pragma: no-cache");
  if (r.flags_ & flReload) lines.push_back("Cache-Control: no-cache");
  // A connection not to be kept, or one made with relaxed certificate
  // checks (which must never serve a strict request later), is closed after
  // this answer.
  const uint32_t relax = (r.security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid)) |
                         (r.flags_ & (flIgnoreCertCNInvalid | flIgnoreCertDateInvalid));
  if (!(r.flags_ & flKeepConnection) || relax != 0) lines.push_back("Connection: close");
  if (loginSent_) lines.push_back("Authorization: Basic " + Base64(r.username_ + ":" + r.password_));
  if (proxyLoginSent_) lines.push_back("Proxy-Authorization: Basic " + Base64(r.proxyUsername_ + ":" + r.proxyPassword_));
  lines.insert(lines.end(), r.headers_.begin(), r.headers_.end());
  lines.insert(lines.end(), r.sendHeaders_.begin(), r.sendHeaders_.end());
  for (const auto& line : lines) {
    const std::wstring w = win32::Wide(line + "\r\n");
    if (!HttpAddRequestHeadersW(request_, w.c_str(), static_cast<DWORD>(w.size()),
                                HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
      return false;
  }
  return true;
}

bool TNetRequest::Impl::Run() {
  newConnections_ = 0;
  for (;;) {
    if (!Open()) return false;
    const auto start = Clock::now();
    state_->post = r.postData_;
    Arm();
    const BOOL sent = HttpSendRequestW(request_, nullptr, 0, r.hasBody_ ? state_->post.data() : nullptr,
                                       r.hasBody_ ? static_cast<DWORD>(state_->post.size()) : 0);
    const bool ok = Settle(sent, SendLimit());
    Drain(true);
    if (!ok) return FailSend(start);
    if (!ResponseIn() || !CheckedAsAsked()) return false;
    if (LoginAsked()) continue;
    const int next = r.FollowRedirect();
    if (next <= 0) return next == 0;
  }
}

// Reads the headers of the answer that just came in.
bool TNetRequest::Impl::ResponseIn() {
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
    r.resp_.AddLine(raw.data() + pos, eol - pos);
    // WinInet cuts a header line at kLineLimit characters without a word: a
    // line that long may have lost its end.
    const size_t len = eol - pos - (eol > pos && raw[eol - 1] == '\r' ? 1 : 0);
    const size_t colon = raw.find(':', pos);
    if (pos != 0 && len >= kLineLimit && colon < eol) r.cutHeaders_.push_back(Lower(raw.substr(pos, colon - pos)));
    pos = eol + 1;
  }
  if (!r.resp_.Complete()) r.resp_.AddLine("", 0);
  if (!r.resp_.HasStatus()) return r.Fail(TNetError::Transport, ERROR_HTTP_INVALID_SERVER_RESPONSE);
  // WinInet takes an answer without a status line for an old-style one and
  // makes up "HTTP/1.0 200 OK" without a single header for it: refused, so
  // that such text never passes for a resource. (A real answer without any
  // header is refused with it; servers send at least a length or a type.)
  if (r.resp_.RawCRLF() == r.resp_.StatusLine() + "\r\n\r\n") {
    CloseHop();
    return r.Fail(TNetError::Transport, ERROR_HTTP_INVALID_HEADER);
  }
  r.headersFinal_ = true;
  // The scheme a login set later is to be offered to.
  if (r.resp_.Status() == 401) r.hostChallenge_ = r.resp_.JoinAll("WWW-Authenticate");
  if (r.resp_.Status() == 407) r.proxyChallenge_ = r.resp_.JoinAll("Proxy-Authenticate");
  std::string len;
  if (r.resp_.Find("Content-Length", len) && r.resp_.Status() != 204 && r.resp_.Status() != 304 && r.method_ != "HEAD") {
    int64_t n = 0;
    auto [p, ec] = std::from_chars(len.data(), len.data() + len.size(), n);
    lengthKnown_ = ec == std::errc() && p == len.data() + len.size() && n >= 0;
    length_ = lengthKnown_ ? n : 0;
  }
  windowStart_ = lastByte_ = lastReturn_ = Clock::now();
  windowBytes_ = received_;
  return true;
}

// WinInet remembers a server whose certificate was once accepted with relaxed
// checks, and lets later connections to it pass the same way. A request that
// did not ask for a relaxation must not get it: its answer is refused.
bool TNetRequest::Impl::CheckedAsAsked() {
  if (SchemeOf(r.url_) != "https") return true;
  DWORD flags = 0, size = sizeof flags;
  if (!InternetQueryOptionW(request_, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size)) return true;
  uint32_t asked = r.security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  asked |= r.flags_ & (flIgnoreCertCNInvalid | flIgnoreCertDateInvalid);
  const uint32_t relaxed = flags & (SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  if ((relaxed & ~asked) == 0) return true;
  CloseHop();
  r.headersFinal_ = false;
  return r.Fail(TNetError::Transport, ERROR_INTERNET_SEC_CERT_ERRORS);
}

// A 401 or 407 whose Basic challenge a login the request holds (and did not
// send) can answer: the request is to go again with it.
bool TNetRequest::Impl::LoginAsked() {
  if (r.flags_ & flNoAuth) return false;
  const int status = r.resp_.Status();
  if (status == 401 && r.HostLogin() && !loginSent_) return ContainsWord(r.hostChallenge_, "basic");
  if (status == 407 && !r.proxyUsername_.empty() && !proxyLoginSent_) return ContainsWord(r.proxyChallenge_, "basic");
  return false;
}

// A failed send. Some WinInet versions report a receive time-out that ran
// out while waiting for the answer as a lost connection: one that failed only
// after the whole time-out is taken for what it is.
bool TNetRequest::Impl::FailSend(Clock::time_point Start) {
  const auto e = r.systemError_;
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Start).count();
  if (r.error_ == TNetError::Transport && r.receiveTimeout_ != 0 && waited >= r.receiveTimeout_ &&
      (e == ERROR_INTERNET_CONNECTION_ABORTED || e == WSAETIMEDOUT))
    return r.Fail(TNetError::Timeout, e);
  return false;
}

// How long a send may wait for its answer: the time-outs of its steps
// together (a server that drips its headers is ended by it).
uint32_t TNetRequest::Impl::SendLimit() const {
  if (r.receiveTimeout_ == 0) return 0;
  return r.connectTimeout_ + r.sendTimeout_ + r.receiveTimeout_;
}

bool TNetRequest::Impl::StartUpload() {
  r.uploadTotal_ = std::min<int64_t>(r.uploadTotal_, std::numeric_limits<DWORD>::max());
  newConnections_ = 0;
  if (!Open()) return false;
  INTERNET_BUFFERSW in{};
  in.dwStructSize = sizeof in;
  in.dwBufferTotal = static_cast<DWORD>(r.uploadTotal_);
  Arm();
  const bool ok = Settle(HttpSendRequestExW(request_, &in, nullptr, HSR_INITIATE, 0), SendLimit());
  Drain(true);
  return ok;
}

bool TNetRequest::Impl::Write(const void* Data, size_t Count, size_t& Written) {
  Written = 0;
  if (!r.streaming_ || request_ == nullptr || r.headersFinal_) return r.Fail(TNetError::InvalidState);
  const size_t want = std::min<size_t>({Count, static_cast<size_t>(r.uploadTotal_ - r.sent_), 1u << 30});
  DWORD n = 0;
  if (want > 0) {
    // WinInet may take the bytes after the call returned: they go from the
    // state's buffer, not the caller's.
    state_->buffer.assign(static_cast<const uint8_t*>(Data), static_cast<const uint8_t*>(Data) + want);
    state_->count = 0;
    Arm();
    const BOOL ok = InternetWriteFile(request_, state_->buffer.data(), static_cast<DWORD>(want), &state_->count);
    if (!Settle(ok, r.sendTimeout_)) return false;
    n = state_->count;
  }
  Written = n;
  r.sent_ += n;
  if (n == 0 && Count > 0) return r.Fail(TNetError::InvalidState);
  return true;
}

bool TNetRequest::Impl::End() {
  if (!r.streaming_ || request_ == nullptr) return r.Fail(TNetError::InvalidState);
  if (r.sent_ < r.uploadTotal_) {
    // The body is incomplete and the server still waits for it: give up
    // the request rather than wait for ever.
    CloseHop();
    return r.Fail(TNetError::InvalidState);
  }
  Arm();
  const bool ok = Settle(HttpEndRequestW(request_, nullptr, 0, 0), SendLimit());
  Drain(true);
  if (!ok) return false;
  if (!ResponseIn() || !CheckedAsAsked()) return false;
  // A login the request holds but did not offer: send again with it.
  if (LoginAsked()) return r.Fail(TNetError::ForceRetry, ERROR_INTERNET_FORCE_RETRY);
  return true;
}

// Waits until body bytes can be read without blocking (Available > 0) or
// the body has ended (0): no byte for a whole receive time-out, or fewer
// than kLowSpeedLimit bytes a second over one, is a time-out.
bool TNetRequest::Impl::WaitForData(DWORD& Available) {
  const uint32_t limit = r.receiveTimeout_;
  for (;;) {
    if (r.session_.Cancelled()) return r.Fail(TNetError::Cancelled);
    Available = 0;
    state_->available = 0;
    Arm();
    const BOOL ok = InternetQueryDataAvailable(request_, &state_->available, 0, 0);
    if (ok) {
      Available = state_->available;
      return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) return FailLast();
    // Pending: wait for it, checking the limits as time passes. (A completed
    // query is asked again: the data it waited for is then at hand.)
    for (;;) {
      DWORD ms = INFINITE;
      const auto now = Clock::now();
      if (limit != 0) {
        const auto idle = now - lastByte_, window = now - windowStart_;
        const auto left = std::chrono::milliseconds(limit) - std::max(idle, window);
        ms = static_cast<DWORD>(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
      }
      const TWait w = Await(ms);
      if (w == TWait::Cancelled) return r.Fail(TNetError::Cancelled);
      if (w == TWait::Done) {
        std::lock_guard lk(state_->mutex);
        if (state_->result == 0) {
          SetLastError(state_->error != ERROR_SUCCESS ? state_->error : ERROR_INTERNET_INTERNAL_ERROR);
          return FailLast();
        }
        break;
      }
      if (!WithinLimits()) return r.Fail(TNetError::Timeout, ERROR_INTERNET_TIMEOUT);
    }
  }
}

// After a wait ran out: whether the receive may go on. A window that
// brought enough bytes starts the next one.
bool TNetRequest::Impl::WithinLimits() {
  const auto limit = std::chrono::milliseconds(r.receiveTimeout_);
  const auto now = Clock::now();
  if (now - lastByte_ >= limit) return false;
  if (now - windowStart_ >= limit) {
    const int64_t need = kLowSpeedLimit * static_cast<int64_t>(r.receiveTimeout_) / 1000;
    if (received_ - windowBytes_ < need) return false;
    windowStart_ = now;
    windowBytes_ = received_;
  }
  return true;
}

bool TNetRequest::Impl::Read(void* Buffer, size_t Size, size_t& BytesRead) {
  BytesRead = 0;
  if (request_ == nullptr || !r.headersFinal_) {
    return r.session_.Cancelled() ? r.Fail(TNetError::Cancelled) : r.Fail(TNetError::InvalidState);
  }
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t n = 0;
  // The time the caller kept the last block does not count against the
  // server.
  const auto entry = Clock::now();
  windowStart_ += entry - lastReturn_;
  lastByte_ += entry - lastReturn_;
  while (n < Size && !ended_ && bodyError_ == TNetError::None) {
    if (lengthKnown_ && received_ >= length_) {
      ended_ = true;  // bytes beyond the announced length are not the body's
      break;
    }
    // Only what has arrived is read: a read that has to wait for more and
    // then fails would lose what it had received.
    DWORD available = 0;
    const bool waited = WaitForData(available);
    Drain(false);
    if (!waited) {
      bodyError_ = r.error_;
      bodySystem_ = r.systemError_;
      break;
    }
    DWORD got = 0;
    if (available > 0) {
      size_t room = std::min<size_t>({Size - n, available, 1u << 30});
      if (lengthKnown_) room = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(room), length_ - received_));
      // The bytes are at hand, so the read completes at once; should it
      // not, WinInet fills the state's buffer, never the caller's late.
      if (state_->buffer.size() < room) state_->buffer.resize(room);
      state_->count = 0;
      Arm();
      const BOOL ok = InternetReadFile(request_, state_->buffer.data(), static_cast<DWORD>(room), &state_->count);
      if (!Settle(ok, r.receiveTimeout_)) {
        bodyError_ = r.error_;
        bodySystem_ = static_cast<DWORD>(r.systemError_);
        break;
      }
      got = std::min<DWORD>(state_->count, static_cast<DWORD>(room));
      std::memcpy(out + n, state_->buffer.data(), got);
      lastByte_ = Clock::now();
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
  lastReturn_ = Clock::now();
  if (n > 0) {
    // Hand out what arrived; a failure comes with the next call.
    r.error_ = TNetError::None;
    r.systemError_ = 0;
    return true;
  }
  if (bodyError_ != TNetError::None) return r.Fail(bodyError_, bodySystem_);
  r.error_ = TNetError::None;
  return true;
}

}  // namespace kelvora::net
