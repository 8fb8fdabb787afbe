// The release an info file describes, read from its text in one pass. Every
// part of the engine and the publisher's tool reads this value; the text
// itself is kept only where its bytes count (the signature) and where the
// host is handed it.
//
// Each key keeps the reading rule of ReadInfoValue (InfoFile.h): matched
// without regard to A-Z case with the "=" directly after it, found anywhere,
// the first occurrence wins, the value ends at the first control character
// (or at "}" for a braced one). A key of a new kind is one member below and
// one line in ParseReleaseInfo.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kelvora/delta/PatchOffer.h"
#include "kelvora/kvUtils.h"
#include "kelvora/trust/TrustFormat.h"

namespace kelvora {

// One entry of the file list, with the hash listed for it.
struct TReleaseFile {
  std::string Suffix;                    // of its key "#url<Suffix>": "", "0", "2", ...
  std::string Entry;                     // the address, or address "=" target name
  std::string HashText;                  // its "#hash<Suffix>" as written; empty when absent
  std::optional<trust::TFileHash> Hash;  // HashText when well-formed
};

// The patches offered for the entry "#url<Suffix>": "#patch<Suffix>.1" on,
// up to the first number without a value.
struct TPatchOffers {
  std::vector<delta::TPatchOffer> Offers;
  std::string Error;  // the first malformed one, as the reason to refuse the file
};

struct TReleaseInfo {
  std::string Version;  // "#version"
  std::string Date;     // "#date", month/day/year
  std::string Message;  // "#message", braced
  int Method = 0;       // "#method": 1 external setup, 2 redirect, otherwise 0 self-upgrade
  std::string Expires;  // "#expires" as written

  // Release control. "#sequence": a whole number the publisher raises with
  // every info file, so that an older one is known as a replay. "#rollout":
  // the share of installations offered the release, a percentage from 0 to
  // 100 with up to six decimals; 0 halts the release, no key offers it to all.
  std::string SequenceText, RolloutText;  // as written, without blanks around
  std::optional<uint64_t> Sequence;
  std::optional<uint32_t> Rollout;  // in millionths of a percent: 0 to 100'000'000
  // "#critical=yes": the person may not postpone the release. "#minimum=":
  // the oldest version still supported; an older installation treats the
  // release as critical (installations compared by number only).
  bool Critical = false;
  std::string Minimum;
  // The first release-control key whose value is malformed, as the reason to
  // refuse the file; empty when all are well-formed.
  std::string ControlProblem;

  // The file list: "#url", "#url0", then "#url<N>" numbered on from the count
  // taken so far, up to the first number without a value. Only the entries a
  // TkvStringList takes are here (it may refuse a duplicate).
  std::vector<TReleaseFile> Files;
  // The number of the first "#url" key that carries an entry the list leaves
  // out (after a gap, "#url1" beside "#url", a leading zero); nullopt when
  // every entry is in the list.
  std::optional<std::string> UnreadFileKey;
  // The patch offers by the suffix of their entry's key.
  std::map<std::string, TPatchOffers> Patches;

  // Signature state: whether the last line is a signature line; the keys
  // are then read from the bytes before it only.
  bool Signed = false;
  std::string Signature;  // the base64 text of that line, as written
  size_t SignedSize = 0;  // the bytes it covers: Text.substr(0, SignedSize)

  // Set when the text cannot be read at all: its keys' values overlap far
  // beyond what any real file does (a hostile text that would need memory
  // without bound). Nothing else is then filled in.
  std::string Problem;

  // Where the value of the first "Key=" of the read part starts (Key as in
  // "#hash1", any case); nullopt when absent.
  std::optional<size_t> ValueOffset(std::string_view Key) const;
  // The offers for the entry with Suffix; nullptr when it has none.
  const TPatchOffers* PatchesOf(const std::string& Suffix) const;

  // Every key of the read part: its lower-case name without "#", and where
  // the value of its first occurrence starts.
  std::unordered_map<std::string, size_t> Keys;
};

TReleaseInfo ParseReleaseInfo(std::string_view Text);

// The names of every key the parser reads, lower case without "#"; "url",
// "hash" and "patch" are followed by numbers ("#url2=", "#patch1.3=").
inline constexpr std::array<const char*, 13> kReleaseInfoKeys = {
    "version", "date",     "message",  "method",  "url",      "hash",    "patch",
    "expires", "signature", "sequence", "rollout", "critical", "minimum"};

// Millionths of a percent for a percentage written as "12", "12.5" or
// "0.000001" (0 to 100, up to six decimals); nullopt otherwise.
std::optional<uint32_t> ParseRolloutPercent(std::string_view Text);
// The percentage back as text, without trailing zeros ("12.5").
std::string FormatRolloutPercent(uint32_t Millionths);

// Fills List with the entries of Info and Suffixes (when given) with the
// suffix of each entry the list took.
void FillFileList(const TReleaseInfo& Info, TkvStringList& List, std::vector<std::string>* Suffixes = nullptr);

// Why a file with UnreadFileKey is refused.
std::string UnreadFileKeyReason(const std::string& Number);

}  // namespace kelvora
