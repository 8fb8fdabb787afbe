// Binary patches as Zstandard frames compressed with the old file as their
// reference (a raw prefix, long-distance matching on), so that what both
// releases share costs a few bytes. The first format; every release of the
// component reads it.
#pragma once

#include <cstdint>
#include <string>

#include "kelvora/delta/Patch.h"

namespace kelvora::delta {

// ApplyPatch for this format. Memory: the old file plus a window bounded
// by the sizes.
std::string ApplyZstdPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                           const TPatchSink& Sink);

// The patch that makes the file at NewPath from the one at BasePath, at the
// compression Level (1..19; higher is smaller and slower to make, never
// slower to apply). Throws std::runtime_error when a file cannot be read or
// the library refuses.
std::string CreateZstdPatch(const std::string& BasePath, const std::string& NewPath, int Level = 19);

}  // namespace kelvora::delta
