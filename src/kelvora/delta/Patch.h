// Binary patches between two releases of a file, in either of two formats,
// told apart by their first bytes:
// - a Zstandard frame compressed with the old file as its reference
//   (ZstdPatch.h): quick to make, strong where both releases share long runs;
// - a matched patch (MatchPatchFormat.h): matches that tolerate small
//   differences, so code that moved (and every address inside it shifted)
//   costs little; smaller on real successive builds of a program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvora::delta {

// Whether this build can read patches (Windows builds without Zstandard
// cannot; they always download the whole file).
bool PatchesSupported();

// Receives the rebuilt file in order, piece by piece; false stops the work.
using TPatchSink = std::function<bool(const uint8_t* Data, size_t Size)>;

// Rebuilds a file from the old file at BasePath and the patch at PatchPath,
// of either format, handing it to Sink. The result must be exactly
// ExpectedSize bytes: a patch that would make more is stopped at the first
// byte past it (a small patch cannot expand without bound), and one that
// makes less, is truncated, damaged, has bytes after its end, names another
// old file, or asks for a window larger than the two files need is
// refused. Memory: the old file, and a window bounded by the two sizes.
// Empty when done; otherwise the reason.
std::string ApplyPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                       const TPatchSink& Sink);

}  // namespace kelvora::delta
