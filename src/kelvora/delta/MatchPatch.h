// Applying matched patches (MatchPatchFormat.h).
#pragma once

#include <cstdint>
#include <string>

#include "kelvora/delta/Patch.h"

namespace kelvora::delta {

// ApplyPatch for this format. Nothing in the patch sizes an allocation:
// its header must name the old file's size and ExpectedSize, every step
// stays within the old file and the bytes still to make, and each stream
// must end exactly where the steps end and its frame does. The result's
// SHA-256 must be the one the header names. Memory: the old file, up to
// 2^kMatchStreamWindowLog bytes for each of the control and difference
// streams, and the new bytes' window (bounded by the two sizes, like a
// Zstandard patch's).
std::string ApplyMatchPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                            const TPatchSink& Sink);

}  // namespace kelvora::delta
