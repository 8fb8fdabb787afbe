// File attribute sets and the system's attribute bits.
#include "kelvora/kvUtils.h"

namespace kelvora {

namespace {
constexpr std::uint32_t kAttributeBits[6] = {0x20, 0x02, 0x01, 0x04, 0x100, 0x1000};
}  // namespace

std::uint32_t FileAttributeBits(TkvFileAttributes Attrs) {
  std::uint32_t bits = 0;
  for (int i = 0; i < 6; ++i)
    if (Attrs.Contains(static_cast<TkvFileAttribute>(i))) bits |= kAttributeBits[i];
  return bits;
}

TkvFileAttributes FileAttributesFromBits(std::uint32_t Bits) {
  TkvFileAttributes s;
  for (int i = 0; i < 6; ++i)
    if (Bits & kAttributeBits[i]) s.Include(static_cast<TkvFileAttribute>(i));
  return s;
}

}  // namespace kelvora
