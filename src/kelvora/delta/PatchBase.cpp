#include "kelvora/delta/PatchBase.h"

#include <zstd.h>

#include <algorithm>
#include <bit>

#include "kelvora/FileCalls.h"

namespace kelvora::delta {

bool ReadWhole(const std::string& Path, int64_t Limit, std::string& Out) {
  const int64_t size = detail::FileSize(Path);
  if (size < 0 || size > Limit) return false;
  Out.clear();
  Out.reserve(static_cast<size_t>(size));
  return detail::ReadInChunks(Path, [&](const char* Data, std::size_t Size) {
    Out.append(Data, Size);
    return static_cast<int64_t>(Out.size()) <= Limit;
  }) && static_cast<int64_t>(Out.size()) <= Limit;
}

int WindowLogFor(uint64_t BaseSize, uint64_t NewSize) {
  const uint64_t larger = std::max<uint64_t>({BaseSize, NewSize, 1});
  const int log = static_cast<int>(std::bit_width(larger));  // highest bit + 1
  const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
  return std::clamp(log, bounds.lowerBound, bounds.upperBound);
}

}  // namespace kelvora::delta
