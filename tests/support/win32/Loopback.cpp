#include "support/Loopback.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <thread>

#include "support/win32/HostLink.h"

namespace kvtest {

namespace {
sockaddr_in Loopback(int Port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(Port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}
}  // namespace

int FreeLoopbackPort() {
  EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = Loopback(0);
  int port = -1;
  if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    int len = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) port = ntohs(a.sin_port);
  }
  if (s != INVALID_SOCKET) closesocket(s);
  return port;
}

bool WaitForListener(int Port, int TimeoutMs) {
  EnsureWinsock();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(Port);
    const bool ok = s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s != INVALID_SOCKET) closesocket(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace kvtest
