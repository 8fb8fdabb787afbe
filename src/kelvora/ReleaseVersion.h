// The order of release versions, as the engine decides "newer" by number.
//
// A version is one to any number of decimal parts separated by dots ("2",
// "1.10", "2026.3.1"), compared as numbers of any size, a missing part
// counting as 0. Only the first four parts count ("1.2.3.4.5" equals
// "1.2.3.4"). A pre-release follows the numbers, either after "-"
// ("1.2-beta.2") or directly when it starts with a letter ("1.0b", "2.0rc1"):
// dot-separated identifiers of letters, digits and "-". A release orders
// above each of its pre-releases; two pre-releases of one release compare
// identifier by identifier, numbers as numbers and below words, words by
// their bytes, the shorter list first when one begins the other. A "+" and
// what follows (build data) counts for nothing. Blanks around the whole
// text are ignored; anything else is not a version.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvora {

struct TReleaseVersion {
  std::vector<std::string> Numbers;     // without leading zeros ("0" for zero)
  std::vector<std::string> PreRelease;  // empty for a release
};

std::optional<TReleaseVersion> ParseReleaseVersion(const std::string& Text);
// -1, 0 or +1.
int CompareReleaseVersions(const TReleaseVersion& A, const TReleaseVersion& B);

// Why Text is refused as the version of a release; empty when it is one.
std::string ReleaseVersionProblem(const std::string& Text);

}  // namespace kelvora
