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

// Linux keeps no dial-up flag: the addresses alone tell.
bool ReadDialUpState(bool& Connected) {
  Connected = false;
  return false;
}

}  // namespace kelvora::platform
