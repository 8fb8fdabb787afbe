// Version numbers.
#include <cstring>

#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

std::array<std::string, 4> SplitVersion(const std::string& S) {
  std::array<std::string, 4> parts;
  std::string rest = S + ".";
  for (auto& part : parts) {
    const size_t dot = rest.find('.');
    if (dot == std::string::npos) {
      part.assign(1, '0');
      continue;
    }
    part = rest.substr(0, dot);
    rest.erase(0, dot + 1);
  }
  return parts;
}

std::int8_t CompareVersions(const std::string& A, const std::string& B) {
  const auto a = SplitVersion(A);
  const auto b = SplitVersion(B);
  for (size_t i = 0; i < 4; ++i) {
    // Blanks around a part ("1.10 ") do not make it text.
    const int32_t x = utils::StrToIntDef(utils::Trim(a[i]), -1);
    const int32_t y = utils::StrToIntDef(utils::Trim(b[i]), -1);
    if (x == -1 || y == -1) {
      // The whole texts, byte by byte, as C strings.
      const int c = std::strcmp(A.c_str(), B.c_str());
      return static_cast<std::int8_t>(c < 0 ? -1 : (c > 0 ? 1 : 0));
    }
    if (x != y) return x > y ? 1 : -1;
  }
  return 0;
}

}  // namespace kelvora
