// The release description "make" reads: a JSON object
//   {"version": "1.5.0" | "date": "12/24/2026", "message": "...", "method": 0,
//    "expires": "2027-06-30", "rollout": 10, "patch_url": "https://.../patches/",
//    "files": [{"path": "build/app", "url": "https://...", "target": "%current%app",
//               "previous": ["old/1.4/app", ...]}, ...]}
// and the info file it becomes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kelvora/delta/PatchOffer.h"
#include "kelvora/trust/TrustFormat.h"

namespace publish {

struct TReleaseFile {
  std::string Url, Target;
  std::string Path;                   // the file to publish; empty for a redirect's entry
  std::vector<std::string> Previous;  // the same file as older releases shipped it
  std::optional<kelvora::trust::TFileHash> Hash;
  std::vector<kelvora::delta::TPatchOffer> Patches;  // filled by MakePatches
};

struct TRelease {
  std::string Head;      // the lines before the files: "#version=" ... "#method="
  uint64_t Sequence = 0;  // written as "#sequence=" after Head when not 0
  std::string PatchUrl;  // where the patches are served; empty: beside each file
  std::vector<TReleaseFile> Files;
};

// The release described in File (its text Json), every listed file hashed;
// paths are taken relative to File's folder. Throws Failure naming File and
// the line, or the member, that is wrong.
TRelease ReadRelease(const std::string& File, const std::string& Json);

// The unsigned info file of R, its patches listed after each file's hash.
std::string FormatInfoFile(const TRelease& R);

// Text with its signature line (if any) replaced by one made with the
// private key in PEM.
std::string SignInfoText(const std::string& Text, const std::string& PrivateKeyPem);

}  // namespace publish
