// The patches an info file offers for one of its files, one key each:
//   "#patch<suffix>.<n>=sha256:<old file> sha256:<patch> <patch size> <address>"
// for the entry "#url<suffix>=", n counting from 1 without a gap. The old
// file's SHA-256 names the release the patch applies to; the patch's own
// SHA-256 and size are checked before it is applied, and the file it makes
// against the entry's "#hash". A signed info file covers them like any key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora::delta {

struct TPatchOffer {
  std::string BaseSha256;  // lower-case hex: the file the patch applies to
  std::string Sha256;      // lower-case hex: the patch itself
  int64_t Size = 0;        // the patch's size
  std::string Address;
};

// One value of the form above; nullopt when it is not exactly that.
std::optional<TPatchOffer> ParsePatchValue(std::string_view Value);
std::string FormatPatchValue(const TPatchOffer& Offer);

// The patches the info file Text offers for the entry with Suffix (the
// engine reads them from its TReleaseInfo). False with Reason when one of
// them is malformed (the info file is then refused, as for a "#hash").
bool ReadPatchOffers(const std::string& Text, const std::string& Suffix, std::vector<TPatchOffer>& Offers,
                     std::string& Reason);

}  // namespace kelvora::delta
