// Binary patches between two releases of a file: Zstandard frames compressed
// with the old file as their reference (a raw prefix, long-distance matching
// on), so that what both releases share costs a few bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvora::delta {

// Whether this build can read and make patches (Windows builds without the
// library cannot; they always download the whole file).
bool PatchesSupported();

// Receives the rebuilt file in order, piece by piece; false stops the work.
using TPatchSink = std::function<bool(const uint8_t* Data, size_t Size)>;

// Rebuilds a file from the old file at BasePath and the patch at PatchPath,
// handing it to Sink. The result must be exactly ExpectedSize bytes: a patch
// that would make more is stopped at the first byte past it (a small patch
// cannot expand without bound), and one that makes less, is truncated, has
// bytes after its frame, or asks for a window larger than the two files need
// is refused. Memory is the old file plus a window bounded by the sizes.
// Empty when done; otherwise the reason.
std::string ApplyPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                       const TPatchSink& Sink);

// The patch that makes the file at NewPath from the one at BasePath, at the
// compression Level (1..19; higher is smaller and slower to make, never
// slower to apply). Throws std::runtime_error when a file cannot be read or
// the library refuses.
std::string CreatePatch(const std::string& BasePath, const std::string& NewPath, int Level = 19);

}  // namespace kelvora::delta
