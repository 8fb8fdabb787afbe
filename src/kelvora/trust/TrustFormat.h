// The trust keys of an info file, read byte-exactly:
//   the last line      "#signature=" + base64(DER ECDSA signature), covering
//                      every byte before that line (its line break included);
//                      the file may end with one LF or CR LF after it
//   "#expires="        "YYYY-MM-DD" (valid through that day, UTC) or
//                      "YYYY-MM-DDTHH:MM:SSZ"
//   "#hash<suffix>="   "sha256:" + 64 hex digits + one blank + the size in
//                      decimal, for the entry "#url<suffix>="
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::trust {

inline constexpr std::string_view kSignatureKey = "#signature=";

struct TSignedText {
  std::string_view Covered;    // every byte before the signature line
  std::string_view Signature;  // the base64 text of the line, as written
};
// The signature line of Text, when its last line is one (the key matched
// without regard to case). nullopt when the last line is something else.
std::optional<TSignedText> SplitSignature(std::string_view Text);

struct TFileHash {
  std::string Sha256;  // lower-case hex
  int64_t Size = 0;
};
// A "#hash" value; nullopt unless it is exactly of the form above.
std::optional<TFileHash> ParseHashValue(std::string_view Value);
std::string FormatHashValue(const TFileHash& Hash);

// An "#expires" value as seconds since 1970 (UTC): the first second at which
// the file is no longer valid. nullopt when malformed.
std::optional<int64_t> ParseExpires(std::string_view Value);

}  // namespace kelvora::trust
