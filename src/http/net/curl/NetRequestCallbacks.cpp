// TNetRequest over libcurl: the header, socket and pre-request callbacks,
// which collect the response headers and raise the status notifications.
#include "http/net/curl/NetRequestImpl.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace kelvora::net {

// --- libcurl callbacks (on the thread that drives the request) ---

size_t TNetRequest::Impl::OnHeader(char* Data, size_t Size, size_t Count, void* Self) {
  auto* m = static_cast<Impl*>(Self);
  const size_t len = Size * Count;
  m->activity_ = Clock::now();
  if (len >= 5 && std::memcmp(Data, "HTTP/", 5) == 0 && !m->responseStarted_) {
    m->responseStarted_ = true;
    m->r.session_.Notify(m->r.context_, stRequestSent, nullptr, 0);
    m->r.session_.Notify(m->r.context_, stReceivingResponse, nullptr, 0);
  }
  if (!m->r.resp_.AddLine(Data, len)) return len;
  const int status = m->r.resp_.Status();
  if (status >= 100 && status < 200) {
    m->r.session_.Notify(m->r.context_, stIntermediateResponse, nullptr, 0);
    return len;
  }
  m->r.session_.Notify(m->r.context_, stResponseReceived, nullptr, 0);
  m->responseStarted_ = false;
  const bool noAuth = (m->r.flags_ & flNoAuth) != 0;
  if (status == 401) m->r.hostChallenge_ = m->r.resp_.JoinAll("WWW-Authenticate");
  if (status == 407) m->r.proxyChallenge_ = m->r.resp_.JoinAll("Proxy-Authenticate");
  // libcurl answers a challenge itself when it holds a login; its own round
  // shows as a new status line, so wait for the body or the end first.
  if (!noAuth && ((status == 401 && m->r.HostLogin()) || (status == 407 && !m->r.proxyUsername_.empty())))
    m->authPending_ = true;
  else
    m->r.headersFinal_ = true;
  return len;
}

curl_socket_t TNetRequest::Impl::OnOpenSocket(void* Self, curlsocktype, struct curl_sockaddr* Address) {
  auto* m = static_cast<Impl*>(Self);
  if (!m->openedSocket_) {
    m->openedSocket_ = true;
    char ip[INET6_ADDRSTRLEN] = {};
    const sockaddr* sa = &Address->addr;
    if (sa->sa_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, ip, sizeof ip);
    else if (sa->sa_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, ip, sizeof ip);
    std::string host = m->r.connection_->Host();
    m->r.session_.NotifyText(m->r.context_, stResolvingName, host);
    m->r.session_.NotifyText(m->r.context_, stNameResolved, ip);
    m->r.session_.NotifyText(m->r.context_, stConnectingToServer, ip);
  }
  return ::socket(Address->family, Address->socktype | SOCK_CLOEXEC, Address->protocol);
}

int TNetRequest::Impl::OnPrereq(void* Self, char* PrimaryIp, char*, int, int) {
  auto* m = static_cast<Impl*>(Self);
  m->connected_ = true;
  m->activity_ = Clock::now();
  if (m->openedSocket_) {
    m->openedSocket_ = false;
    m->r.session_.NotifyText(m->r.context_, stConnectedToServer, PrimaryIp != nullptr ? PrimaryIp : "");
  }
  m->r.session_.Notify(m->r.context_, stSendingRequest, nullptr, 0);
  return CURL_PREREQFUNC_OK;
}

}  // namespace kelvora::net
