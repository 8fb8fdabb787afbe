// What both patch formats need of the old file: the whole of it in memory
// (a patch refers to any place in it), and the Zstandard window that
// reaches over it.
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::delta {

// The old file is whole in memory while a patch is applied or made; a
// program's file of gigabytes is not patched.
inline constexpr int64_t kLargestPatchedFile = int64_t{1} << 31;

// The whole file at Path; false when it cannot be read (or is larger than
// Limit).
bool ReadWhole(const std::string& Path, int64_t Limit, std::string& Out);

// The window both sides of a Zstandard patch use: large enough to reach back
// over the whole old file from anywhere in the new one, and no larger.
int WindowLogFor(uint64_t BaseSize, uint64_t NewSize);

}  // namespace kelvora::delta
