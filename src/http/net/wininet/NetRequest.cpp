// TNetRequest over WinInet: construction, options, header lines, header
// queries, errors and the status notifications. Sending, redirects, the
// upload and the body are in NetRequestSend.cpp.
#include "http/net/NetRequest.h"

#include <algorithm>

#include "http/net/HeaderLines.h"
#include "http/net/wininet/HopTarget.h"
#include "framework/win32/Wide.h"

namespace kelvora::net {

namespace {

// Network steps passed on once per hop, as bits of seen_.
uint32_t StepBit(DWORD Status) {
  switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: return 1;
    case INTERNET_STATUS_NAME_RESOLVED: return 2;
    case INTERNET_STATUS_CONNECTING_TO_SERVER: return 4;
    case INTERNET_STATUS_CONNECTED_TO_SERVER: return 8;
    case INTERNET_STATUS_SENDING_REQUEST: return 16;
    case INTERNET_STATUS_REQUEST_SENT: return 32;
    case INTERNET_STATUS_RECEIVING_RESPONSE: return 64;
    case INTERNET_STATUS_RESPONSE_RECEIVED: return 128;
    default: return 0;
  }
}

// An address in a notification: WinInet gives the resolved and connected
// addresses as 8-bit text even to the wide callback; accept either form.
std::string InfoText(const void* Info, DWORD Length) {
  if (Info == nullptr || Length == 0) return {};
  const auto* b = static_cast<const char*>(Info);
  if (Length >= 2 && b[1] == 0) {
    const auto* w = static_cast<const wchar_t*>(Info);
    size_t n = 0;
    while (n < Length / sizeof(wchar_t) && w[n] != 0) ++n;
    return win32::Utf8(std::wstring(w, n));
  }
  size_t n = 0;
  while (n < Length && b[n] != 0) ++n;
  return std::string(b, n);
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
  if (used_) {
    std::string conn;
    const bool closes = !(flags_ & flKeepConnection) || !ended_ || error_ != TNetError::None ||
                        (resp_.Find("Connection", conn) && ContainsWord(conn, "close"));
    if (closes) {
      session_.Notify(context_, stClosingConnection, nullptr, 0);
      session_.Notify(context_, stConnectionClosed, nullptr, 0);
    }
  }
  CloseHop();
  session_.Notify(context_, stHandleClosing, nullptr, 0);
}

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
  if (!AddHeaderLines(headers_, Text, Modifiers)) return Fail(TNetError::InvalidState);
  error_ = TNetError::None;
  return true;
}

bool TNetRequest::QueryInfo(uint32_t Level, std::string& Value, size_t BufferSize) const {
  if (!headersFinal_) return false;
  if (const char* name = HeaderNameOfLevel(Level);
      name != nullptr && std::find(cutHeaders_.begin(), cutHeaders_.end(), Lower(name)) != cutHeaders_.end())
    return false;
  std::string v;
  if (!resp_.Query(Level, v)) return false;
  if (v.size() + 1 > BufferSize) return false;
  Value = std::move(v);
  return true;
}

bool TNetRequest::HostLogin() const {
  return (!username_.empty() || !password_.empty()) && !loginOrigin_.empty() && OriginOf(url_) == loginOrigin_;
}

bool TNetRequest::Fail(TNetError Error, DWORD System) {
  error_ = Error;
  systemError_ = System;
  return false;
}

// The reason of the WinInet call that just failed.
bool TNetRequest::FailLast() {
  const DWORD e = GetLastError();
  if (session_.Cancelled()) return Fail(TNetError::Cancelled, e);
  switch (e) {
    case ERROR_INTERNET_TIMEOUT:
    case WSAETIMEDOUT: return Fail(TNetError::Timeout, e);
    case ERROR_INTERNET_OPERATION_CANCELLED: return Fail(TNetError::Cancelled, e);
    case ERROR_INTERNET_FORCE_RETRY: return Fail(TNetError::ForceRetry, e);
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return Fail(TNetError::BadUrl, e);
    default: return Fail(TNetError::Transport, e);
  }
}

std::string TNetRequest::ErrorText() const {
  std::string s = NetErrorText(error_);
  if (systemError_ != 0) {
    wchar_t buf[512] = {};
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             wininet, systemError_, 0, buf, 512, nullptr);
    while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
    s += " (error " + std::to_string(systemError_);
    if (n > 0) s += ": " + win32::Utf8(std::wstring(buf, n));
    s += ")";
  }
  return s;
}

void CALLBACK TNetRequest::OnStatusThunk(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length) {
  if (Context != 0) reinterpret_cast<TNetRequest*>(Context)->OnStatus(Status, Info, Length);
}

// Runs on the thread of the WinInet call (every call is synchronous), or on
// the thread that cancels, which this ignores.
void TNetRequest::OnStatus(DWORD Status, const void* Info, DWORD Length) {
  if (session_.Cancelled()) return;
  if (Status == INTERNET_STATUS_INTERMEDIATE_RESPONSE && sending_) {
    session_.Notify(context_, stIntermediateResponse, nullptr, 0);
    return;
  }
  const uint32_t bit = StepBit(Status);
  if (bit == 0 || !sending_ || (seen_ & bit)) return;
  seen_ |= bit;
  switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: session_.NotifyText(context_, Status, hopHost_); break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      ++newConnections_;
      [[fallthrough]];
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER: session_.NotifyText(context_, Status, InfoText(Info, Length)); break;
    default: session_.Notify(context_, Status, nullptr, 0); break;
  }
}

}  // namespace kelvora::net
