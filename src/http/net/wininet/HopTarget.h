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
// "scheme://host:port", lower case; "" when Url cannot be read.
std::string OriginOf(const std::string& Url);
// Ref (absolute or relative) resolved against Base.
bool ResolveUrl(const std::string& Base, const std::string& Ref, std::string& Out);

}  // namespace kelvora::net
