// Private text helpers of unit kvUtils: the runtime's trimming, case
// conversion and integer conversion, as the units use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::utils {

// Trim, TrimLeft, TrimRight: remove characters up to and including the blank
// (control characters and spaces, bytes 0..32) at the ends.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// ASCII case conversion; bytes above 127 (UTF-8 sequences) are left alone.
std::string LowerCase(std::string_view S);
std::string UpperCase(std::string_view S);
char LowerChar(char C);

// The runtime's integer conversion: leading blanks, an optional sign and
// decimal digits, nothing after them; the value must fit a 32-bit integer.
std::optional<int32_t> StrToIntOpt(std::string_view S);
inline int32_t StrToIntDef(std::string_view S, int32_t Default) {
  auto v = StrToIntOpt(S);
  return v ? *v : Default;
}

// 1-based position of Sub in S from position 1, 0 when absent or Sub empty.
size_t Pos(std::string_view Sub, std::string_view S);

}  // namespace kelvora::utils
