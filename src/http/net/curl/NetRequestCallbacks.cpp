// TNetRequest: libcurl's header, socket and pre-request callbacks, which
// collect the response headers and raise the status notifications.
#include "http/net/NetRequest.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace kelvora::net {

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
