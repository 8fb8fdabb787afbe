// Whether an info file's release is offered to this installation: one pure
// function of the parsed info file, what the installation knows of itself,
// and the time. The component's check and the publisher's simulator both
// decide through it, so a publisher sees beforehand what installations do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kelvora/Types.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

struct TReleaseInfo;

// What the installation knows of itself when it decides.
struct TInstallation {
  TkvKelvoraVersionControl VersionControl = byDate;
  std::string VersionNumber, VersionDate;  // of the running program
  // The random identifier kept in the state folder; empty when none could
  // be kept, and then only a release offered to everybody is offered.
  std::string Id;
  // The highest "#sequence" accepted from this info file's address.
  std::optional<uint64_t> HighestSequence;
  // From the record of the last release handed over: this release is in
  // place, or it failed (on FailedOn, engine date form; may be empty).
  bool AlreadyInstalled = false;
  bool FailedBefore = false;
  // The administrator's policy lets this installation take the release's
  // version (its version prefix); the publisher's simulator has no policy.
  bool AllowedByPolicy = true;
  std::string FailedOn;
};

struct TOfferTime {
  TDateTime Today = 0;  // local date, midnight
  std::string TodayText;  // the same in engine date form
};
TOfferTime CurrentOfferTime();

enum class TOfferVerdict {
  Offered,
  NotNewer,        // not newer than the running program, no files, or in place already
  Refused,         // the info file cannot be acted on: Reason says why
  Halted,          // "#rollout=0"
  OutsideRollout,  // this installation's bucket lies above the rollout
  FailedToday,     // failed to install today; the automatic check passes it over
};

enum class TOfferUrgency { Normal, Critical, BelowMinimum };

struct TOffer {
  TOfferVerdict Verdict = TOfferVerdict::NotNewer;
  std::string Reason;  // for Refused
  // For Offered: it failed to install before, so only a person's Yes installs it.
  bool FailedBefore = false;
  // For Offered: the person may not postpone it, marked "#critical" by the
  // publisher, or this installation's version lies below "#minimum".
  TOfferUrgency Urgency = TOfferUrgency::Normal;
};

struct TCheckKind {
  bool Automatic = false;  // started by the timer, not by the host or a person
  bool IgnoresRollout = false;  // a person asked, and the host lets them past the rollout
};

TOffer DecideOffer(const TReleaseInfo& Release, const TInstallation& Self, const TCheckKind& Check,
                   const TOfferTime& Time);

// The installation's bucket for a release: a number from 0 to 99'999'999
// (millionths of a percent) that comes from its identifier and the
// release's version, so each release picks its own group. The release is
// offered when the bucket lies below the rollout.
uint32_t RolloutBucket(const std::string& InstallationId, const TReleaseInfo& Release);

}  // namespace kelvora
