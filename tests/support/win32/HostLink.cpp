#include "support/win32/HostLink.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kvtest {

void EnsureWinsock() {
  static const bool started = [] {
    WSADATA d;
    return WSAStartup(MAKEWORD(2, 2), &d) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
}

nlohmann::json AskProcessHost(const nlohmann::json& Request) {
  EnsureWinsock();
  const char* port = std::getenv("KV_PROCESS_HOST");
  if (port == nullptr || *port == 0)
    throw std::runtime_error("KV_PROCESS_HOST is not set: run this program through tests/support/process_host.py");
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(std::atoi(port)));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    throw std::runtime_error("cannot reach the process host");
  }
  const std::string line = Request.dump() + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    const int n = send(s, line.data() + sent, static_cast<int>(line.size() - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  char buf[4096];
  for (;;) {
    const int n = recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
    if (answer.find('\n') != std::string::npos) break;
  }
  closesocket(s);
  if (sent < line.size() || answer.find('\n') == std::string::npos)
    throw std::runtime_error("the process host did not answer");
  nlohmann::json j = nlohmann::json::parse(answer.substr(0, answer.find('\n')));
  if (j.contains("error")) throw std::runtime_error("process host: " + j["error"].get<std::string>());
  return j;
}

}  // namespace kvtest
