// Where one hop of a request goes, read from an absolute address with
// WinInet's own URL cracker.
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::net {

struct THopTarget {
  std::string Scheme;  // lower case
  std::string Host;
  uint16_t Port = 0;   // the scheme's default filled in
  std::string Object;  // path and query, as written
};

bool CrackHop(const std::string& Url, THopTarget& Target);

}  // namespace kelvora::net
