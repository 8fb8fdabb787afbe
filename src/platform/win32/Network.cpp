#include "platform/Network.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <memory>

#include "platform/win32/WideExact.h"

namespace kelvora::platform {

std::vector<TLocalAddress> LocalAddresses() {
  std::vector<TLocalAddress> out;
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  std::unique_ptr<BYTE[]> buf;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  // The list can grow between the calls: a few attempts, each with the size
  // the last one asked for.
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buf.reset(new BYTE[size]);
    rc = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.get()), &size);
  }
  if (rc != NO_ERROR) return out;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.get()); a != nullptr; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa == nullptr || (sa->sa_family != AF_INET && sa->sa_family != AF_INET6)) continue;
      char text[INET6_ADDRSTRLEN] = {0};
      const void* raw = sa->sa_family == AF_INET
                            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr)
                            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr);
      if (::inet_ntop(sa->sa_family, raw, text, sizeof text) == nullptr) continue;
      TLocalAddress addr;
      addr.Interface = Utf8(a->FriendlyName);
      addr.Text = text;
      addr.InterfaceUp = a->OperStatus == IfOperStatusUp;
      addr.InterfaceLoopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
      out.push_back(std::move(addr));
    }
  }
  return out;
}

bool ReadDialUpState(bool& Connected) {
  Connected = false;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\RemoteAccess", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
    return false;
  BYTE value[4] = {0};
  DWORD size = sizeof value;
  const bool read = ::RegQueryValueExW(key, L"Remote Connection", nullptr, nullptr, value, &size) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  if (read) Connected = value[0] == 1;
  return read;
}

}  // namespace kelvora::platform
