// The publisher's side of matched patches (MatchPatchFormat.h): matches
// found with a suffix array of the old file (libdivsufsort), extended over
// small differences, the three streams compressed with Zstandard.
#pragma once

#include <string>

namespace kelvora::delta {

// The matched patch that makes the file at NewPath from the one at
// BasePath, its streams compressed at Level (1..19). Both files must be
// below 2 GiB. Memory: both files and five bytes per old byte. Throws
// std::runtime_error when a file cannot be read or the library refuses.
std::string CreateMatchPatch(const std::string& BasePath, const std::string& NewPath, int Level = 19);

}  // namespace kelvora::delta
