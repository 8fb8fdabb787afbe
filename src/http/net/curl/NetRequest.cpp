// TNetRequest: construction, options, header lines, header queries and
// errors. Sending and driving libcurl, its set-up, redirects, the body
// hand-over and the libcurl callbacks have files of their own
// (NetRequest*.cpp).
#include "http/net/NetRequest.h"

#include <algorithm>
#include <cstring>

#include "http/net/HeaderLines.h"
#include "http/net/curl/NetRequestText.h"

namespace kelvora::net {

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
  if (!AddHeaderLines(headers_, Text, Modifiers)) return Fail(TNetError::InvalidState);
  error_ = TNetError::None;
  return true;
}

// --- queries and errors ---

bool TNetRequest::QueryInfo(uint32_t Level, std::string& Value, size_t BufferSize) const {
  if (!headersFinal_) return false;
  std::string v;
  if (!resp_.Query(Level, v)) return false;
  if (v.size() + 1 > BufferSize) return false;
  Value = std::move(v);
  return true;
}

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

}  // namespace kelvora::net
