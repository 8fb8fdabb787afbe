// Which local addresses count as a way out to other machines. Only the text
// parser comes from the system's socket headers.
#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstdint>

#include "platform/Network.h"

namespace kelvora::platform {

namespace {

bool IsRoutableV4(const std::uint8_t* B) {
  if (B[0] == 127) return false;               // loopback, 127.0.1.1 included
  if (B[0] == 0) return false;                 // "this network"
  if (B[0] == 169 && B[1] == 254) return false;  // link-local
  if (B[0] >= 224) return false;               // multicast, reserved, broadcast
  return true;
}

bool AllZero(const std::uint8_t* B, int N) {
  for (int i = 0; i < N; ++i)
    if (B[i] != 0) return false;
  return true;
}

}  // namespace

bool IsRoutableAddress(const std::string& Text) {
  std::uint8_t b[16] = {0};
  if (::inet_pton(AF_INET, Text.c_str(), b) == 1) return IsRoutableV4(b);
  if (::inet_pton(AF_INET6, Text.c_str(), b) != 1) return false;
  if (AllZero(b, 15) && (b[15] == 0 || b[15] == 1)) return false;  // unspecified, loopback
  if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) return false;         // link-local fe80::/10
  if (b[0] == 0xFF) return false;                                   // multicast
  // An IPv4 address inside IPv6 (::ffff:a.b.c.d, ::a.b.c.d) is judged as one.
  if (AllZero(b, 10) && ((b[10] == 0xFF && b[11] == 0xFF) || (b[10] == 0 && b[11] == 0))) return IsRoutableV4(b + 12);
  return true;
}

bool HasRoutableAddress(const std::vector<TLocalAddress>& Addresses) {
  for (const auto& a : Addresses)
    if (a.InterfaceUp && !a.InterfaceLoopback && IsRoutableAddress(a.Text)) return true;
  return false;
}

}  // namespace kelvora::platform
