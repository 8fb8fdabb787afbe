#include "kelvora/delta/PatchOffer.h"

#include "kelvora/ReleaseInfo.h"
#include "kelvora/trust/TrustFormat.h"

namespace kelvora::delta {

namespace {

// "sha256:" and 64 hex digits at the start of Value, lower-cased; the rest
// after one blank is left in Value.
std::optional<std::string> TakeSha256(std::string_view& Value) {
  constexpr std::string_view kPrefix = "sha256:";
  if (!Value.starts_with(kPrefix) || Value.size() < kPrefix.size() + 65 || Value[kPrefix.size() + 64] != ' ')
    return std::nullopt;
  std::string hex;
  for (char c : Value.substr(kPrefix.size(), 64)) {
    const char l = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!((l >= '0' && l <= '9') || (l >= 'a' && l <= 'f'))) return std::nullopt;
    hex += l;
  }
  Value.remove_prefix(kPrefix.size() + 65);
  return hex;
}

}  // namespace

std::optional<TPatchOffer> ParsePatchValue(std::string_view Value) {
  TPatchOffer offer;
  auto base = TakeSha256(Value);
  if (!base) return std::nullopt;
  // The patch's own hash and size have the form of a "#hash" value.
  const size_t blank = Value.find(' ', 72);
  if (blank == std::string_view::npos) return std::nullopt;
  const auto patch = trust::ParseHashValue(Value.substr(0, blank));
  if (!patch || patch->Size <= 0) return std::nullopt;
  const std::string_view address = Value.substr(blank + 1);
  if (address.empty() || address.find(' ') != std::string_view::npos) return std::nullopt;
  offer.BaseSha256 = std::move(*base);
  offer.Sha256 = patch->Sha256;
  offer.Size = patch->Size;
  offer.Address.assign(address);
  return offer;
}

std::string FormatPatchValue(const TPatchOffer& Offer) {
  return "sha256:" + Offer.BaseSha256 + " " + trust::FormatHashValue({Offer.Sha256, Offer.Size}) + " " +
         Offer.Address;
}

bool ReadPatchOffers(const std::string& Text, const std::string& Suffix, std::vector<TPatchOffer>& Offers,
                     std::string& Reason) {
  Offers.clear();
  const TReleaseInfo release = ParseReleaseInfo(Text);
  const TPatchOffers* offers = release.PatchesOf(Suffix);
  if (offers == nullptr) return true;
  Offers = offers->Offers;
  Reason = offers->Error;
  return Reason.empty();
}

}  // namespace kelvora::delta
