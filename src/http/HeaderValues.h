// Reading numbers out of response header values.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>

namespace kelvora::httpimpl {

// Decimal number of a header value; anything that is not one gives 0.
inline int64_t ToNumber(const std::string& Text) {
  size_t b = Text.find_first_not_of(" \t");
  if (b == std::string::npos) return 0;
  size_t e = Text.find_last_not_of(" \t") + 1;
  int64_t v = 0;
  auto [p, ec] = std::from_chars(Text.data() + b, Text.data() + e, v);
  if (ec != std::errc() || p != Text.data() + e) return 0;
  return v;
}

}  // namespace kelvora::httpimpl
