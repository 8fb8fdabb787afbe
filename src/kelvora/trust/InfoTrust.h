// Whether an info file may be acted on: its signature and expiry against the
// published keys, and the hashes it lists for its files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kelvora/trust/TrustFormat.h"

namespace kelvora {
struct TReleaseInfo;
struct TReleaseFile;
}  // namespace kelvora

namespace kelvora::trust {

// The blank-separated base64 keys of PublicKey, decoded. A key that is not
// a P-256 SubjectPublicKeyInfo is reported in Reason (and left out).
std::vector<std::string> DecodePublicKeys(const std::string& Keys, std::string* Reason = nullptr);

struct TInfoVerdict {
  bool Ok = false;
  std::string Reason;  // why not, when not Ok
  std::string Text;    // what may be read: the signed part of the file (the text form only)
};
// With Keys empty nothing is required. Otherwise the info file Text, read
// as Release, must end in a signature line made by one of the keys and must
// not be past its "#expires" date at Now (seconds since 1970, UTC).
TInfoVerdict VerifyInfoFile(const TReleaseInfo& Release, std::string_view Text, const std::string& Keys,
                            int64_t Now);
// The same, reading Text itself; Text of the verdict is what may be read
// (all of it with Keys empty).
TInfoVerdict VerifyInfoFile(const std::string& Text, const std::string& Keys, int64_t Now);

// The "#hash<suffix>" of each file entry, in list order. Reason when a hash
// key is malformed, or, with Required, when an entry has none.
bool ReadFileHashes(const std::vector<TReleaseFile>& Files, bool Required,
                    std::vector<std::optional<TFileHash>>& Hashes, std::string& Reason);

}  // namespace kelvora::trust
