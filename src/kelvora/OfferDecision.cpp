#include "kelvora/OfferDecision.h"

#include <cmath>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseVersion.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora {

namespace {

// An installation compared by number whose version lies below the release's
// "#minimum"; one whose own version is no version is not judged.
bool BelowMinimum(const TReleaseInfo& Release, const TInstallation& Self) {
  if (Release.Minimum.empty() || Self.VersionControl != byNumber) return false;
  const std::optional<TReleaseVersion> own = ParseReleaseVersion(Self.VersionNumber);
  const std::optional<TReleaseVersion> minimum = ParseReleaseVersion(Release.Minimum);
  return own && minimum && CompareReleaseVersions(*own, *minimum) < 0;
}

bool IsNewer(const TReleaseInfo& Release, const TInstallation& Self, const TOfferTime& Time) {
  if (Self.VersionControl == byNumber) return IsNewerByNumber(Release, Self.VersionNumber);
  return IsNewerByDate(Release, Self.VersionDate, Time.Today);
}

}  // namespace

TOfferTime CurrentOfferTime() {
  const TDateTime today = TodayDate();
  return {today, FormatEngineDate(today)};
}

uint32_t RolloutBucket(const std::string& InstallationId, const TReleaseInfo& Release) {
  // The release as the engine names it: its version, or its date.
  const std::string release = !Release.Version.empty() ? "version " + Release.Version : "date " + Release.Date;
  const std::string hex = trust::Sha256Hex("kelvora rollout\n" + InstallationId + "\n" + release);
  // The first 64 bits; the remainder's bias (below 10^-11) counts for nothing.
  return static_cast<uint32_t>(std::stoull(hex.substr(0, 16), nullptr, 16) % 100'000'000u);
}

TOffer DecideOffer(const TReleaseInfo& Release, const TInstallation& Self, const TCheckKind& Check,
                   const TOfferTime& Time) {
  if (!Release.ControlProblem.empty()) return {TOfferVerdict::Refused, Release.ControlProblem, false};
  if (Self.VersionControl == byNumber && !Release.Version.empty())
    if (std::string problem = ReleaseVersionProblem(Release.Version); !problem.empty())
      return {TOfferVerdict::Refused, std::move(problem), false};
  // A file older than one accepted before is a replay, whatever it offers;
  // without the key it counts as the lowest.
  if (Self.HighestSequence && Release.Sequence.value_or(0) < *Self.HighestSequence)
    return {TOfferVerdict::Refused,
            "the info file is a replay: its #sequence " + (Release.Sequence ? std::to_string(*Release.Sequence)
                                                                               : std::string("is missing, and")) +
                " is below " + std::to_string(*Self.HighestSequence) + ", accepted from this address before",
            false};
  if (!Self.AllowedByPolicy || !IsNewer(Release, Self, Time) || Release.Files.empty() || Self.AlreadyInstalled)
    return {};
  if (Release.Rollout) {
    if (*Release.Rollout == 0) return {TOfferVerdict::Halted, {}, false};
    if (*Release.Rollout < 100'000'000u && !Check.IgnoresRollout &&
        (Self.Id.empty() || RolloutBucket(Self.Id, Release) >= *Release.Rollout))
      return {TOfferVerdict::OutsideRollout, {}, false};
  }
  if (Self.FailedBefore && Check.Automatic && Self.FailedOn == Time.TodayText)
    return {TOfferVerdict::FailedToday, {}, true};
  TOffer offer{TOfferVerdict::Offered, {}, Self.FailedBefore};
  if (BelowMinimum(Release, Self))
    offer.Urgency = TOfferUrgency::BelowMinimum;
  else if (Release.Critical)
    offer.Urgency = TOfferUrgency::Critical;
  return offer;
}

}  // namespace kelvora
