#include "platform/Network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace kelvora::platform {

std::vector<TLocalAddress> LocalAddresses() {
  std::vector<TLocalAddress> out;
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (struct ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr) continue;
    const int family = it->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    char text[INET6_ADDRSTRLEN] = {0};
    const void* raw = family == AF_INET
                          ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr)
                          : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(it->ifa_addr)->sin6_addr);
    if (::inet_ntop(family, raw, text, sizeof text) == nullptr) continue;
    TLocalAddress a;
    a.Interface = it->ifa_name != nullptr ? it->ifa_name : "";
    a.Text = text;
    a.InterfaceUp = (it->ifa_flags & IFF_UP) != 0 && (it->ifa_flags & IFF_RUNNING) != 0;
    a.InterfaceLoopback = (it->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(std::move(a));
  }
  ::freeifaddrs(list);
  return out;
}

bool IsRoutableAddress(const std::string& Text) {
  in_addr v4{};
  in6_addr v6{};
  if (::inet_pton(AF_INET, Text.c_str(), &v4) == 1) {
    const uint32_t a = ntohl(v4.s_addr);
    if ((a >> 24) == 127) return false;              // loopback, 127.0.1.1 included
    if ((a >> 24) == 0) return false;                // "this network"
    if ((a >> 16) == 0xA9FE) return false;           // 169.254/16 link-local
    if ((a >> 28) == 0xE || (a >> 28) == 0xF) return false;  // multicast, reserved, broadcast
    return true;
  }
  if (::inet_pton(AF_INET6, Text.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_UNSPECIFIED(&v6) || IN6_IS_ADDR_LOOPBACK(&v6)) return false;
    if (IN6_IS_ADDR_LINKLOCAL(&v6) || IN6_IS_ADDR_MULTICAST(&v6)) return false;
    if (IN6_IS_ADDR_V4MAPPED(&v6) || IN6_IS_ADDR_V4COMPAT(&v6)) {
      char inner[INET_ADDRSTRLEN] = {0};
      if (::inet_ntop(AF_INET, &v6.s6_addr[12], inner, sizeof inner) == nullptr) return false;
      return IsRoutableAddress(inner);
    }
    return true;
  }
  return false;
}

bool HasRoutableAddress(const std::vector<TLocalAddress>& Addresses) {
  for (const auto& a : Addresses)
    if (a.InterfaceUp && !a.InterfaceLoopback && IsRoutableAddress(a.Text)) return true;
  return false;
}

}  // namespace kelvora::platform
