// The patches "make" offers: for each listed file, one from every distinct
// older release of it, kept when it is clearly smaller than the file.
#pragma once

#include <string>
#include <vector>

#include "ReleaseDescription.h"

namespace publish {

enum class TPatchFormat {
  Smallest,  // of the two below, for each file
  Zstd,      // a Zstandard frame with the old file as reference
  Matched,   // a matched patch
};

struct TPatchPlan {
  // Folders that each hold an older release, its files under the same names
  // as the listed files' paths end with.
  std::vector<std::string> PreviousFolders;
  std::string Folder;  // where the patches are written
  int Level = 19;      // Zstandard's level: 19 makes the smallest patches, 3 the quickest
  TPatchFormat Format = TPatchFormat::Smallest;
};

// A patch is kept only below this share of the file's size: above it, the
// saving does not pay for a second download when the patch fails.
inline constexpr int kKeepNumerator = 3, kKeepDenominator = 4;

// Fills each file's Patches from its "previous" paths and Plan's folders,
// writing the patches into Plan.Folder and printing one line per old file.
// Every file the run reads is read before the first patch is written.
void MakePatches(TRelease& R, const TPatchPlan& Plan);

// Applies the patch at PatchPath to the file at BasePath; empty when it makes
// exactly the Listed file, otherwise what went wrong.
std::string PatchMakes(const std::string& BasePath, const std::string& PatchPath,
                       const kelvora::trust::TFileHash& Listed);

}  // namespace publish
