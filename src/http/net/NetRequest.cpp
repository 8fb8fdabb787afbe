// TNetRequest: what both back-ends share: construction, options, header
// lines, header queries, where a login may go, the redirect rules and the
// closing notifications. Sending, the body and the upload are the
// back-end's (curl/, wininet/).
#include "http/net/NetRequest.h"

#include <algorithm>

#include "http/net/HeaderLines.h"

namespace kelvora::net {

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
  impl_.reset(NewImpl(*this));
  session_.Notify(context_, stHandleCreated, nullptr, 0);
}

void TNetRequest::NotifyClosing(bool Used, bool Complete) {
  if (Used) {
    std::string conn;
    const bool closes = !(flags_ & flKeepConnection) || !Complete ||
                        (resp_.Find("Connection", conn) && ContainsWord(conn, "close"));
    if (closes) {
      session_.Notify(context_, stClosingConnection, nullptr, 0);
      session_.Notify(context_, stConnectionClosed, nullptr, 0);
    }
  }
  session_.Notify(context_, stHandleClosing, nullptr, 0);
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
  if (!AddHeaderLines(headers_, Text, Modifiers)) return Fail(TNetError::InvalidState);
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
  uploadTotal_ = std::max<int64_t>(TotalLength, 0);
  redirects_ = 0;
  return StartUpload();
}

// The login goes only to the scheme, host and port it was given for: a
// redirect elsewhere is followed without it.
bool TNetRequest::HostLogin() const {
  return (!username_.empty() || !password_.empty()) && !loginOrigin_.empty() && OriginOf(url_) == loginOrigin_;
}

// 1: go on to the redirect's target (url_ set); 0: this answer is final;
// -1: the redirect is refused (error set).
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
  DropRedirectBody();
  if (s == 303 || ((s == 301 || s == 302) && method_ == "POST")) {
    method_ = "GET";
    hasBody_ = false;
    postData_.clear();
  }
  url_ = target;
  return 1;
}

// --- queries and errors ---

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

bool TNetRequest::Fail(TNetError Error, long System) {
  error_ = Error;
  systemError_ = System;
  return false;
}

}  // namespace kelvora::net
