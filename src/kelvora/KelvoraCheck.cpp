// The info file and the version decision.
#include <atomic>

#include "kelvora/AdminPolicy.h"
#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Engagement.h"
#include "kelvora/InfoFile.h"
#include "kelvora/InstallationState.h"
#include "kelvora/OfferDecision.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/StateFolder.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"
#include "updater/Transaction.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

namespace {

// Why a release is installed without the question: it may not wait, or the
// administrator's policy lets nobody skip it.
std::string MustInstallText(TOfferUrgency Urgency, const std::string& Title, const TReleaseInfo& Release) {
  switch (Urgency) {
    case TOfferUrgency::BelowMinimum: return FormatLangText(ltBelowMinimum, {Title, Release.Minimum});
    case TOfferUrgency::Critical: return FormatLangText(ltCriticalUpdate, {Title});
    case TOfferUrgency::Normal: break;
  }
  return GetLangText(ltManagedByOrganisation);
}

}  // namespace

std::string TkvKelvora::ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced) const {
  return kelvora::ReadInfoValue(Text, Key, Braced);
}

bool TkvKelvora::IsNewerVersion(const std::string& Text) const { return IsNewerRelease(ParseReleaseInfo(Text)); }

bool TkvKelvora::IsNewerRelease(const TReleaseInfo& Release) const {
  // A release outside the version the administrator pins is not offered.
  if (!d_->policy_->AllowsVersion(Release.Version)) return false;
  return d_->versionControl_ == byNumber ? IsNewerByNumber(Release, d_->versionNumber_) : IsNewerByDate(Release, d_->versionDate_);
}

std::string TkvKelvora::ShownTitle() const {
  std::string title = ProgramTitle();
  const std::string devEnv = GetResourceText(kDevEnvNameTextId);
  if (!devEnv.empty() && title.find(devEnv) != std::string::npos) title = GetResourceText(kAppTitleStandInTextId);
  return title;
}

std::string TkvKelvora::AskUpgradeText(const std::string& Message) const {
  const std::string title = ShownTitle();
  const std::string msg = Message.empty() ? Message : "\n" + Message + "\n";
  return FormatLangText(ltAskUpgrade, {title, msg});
}

void TkvKelvora::ParseInfoFile(TStream& Data) {
  std::string text;
  const int64_t size = Data.Size() - Data.Position();
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    Data.ReadBuffer(text.data(), size);
  }
  // The question and the handlers serve the loop: no other check may start
  // (and replace the file list) while this one is decided.
  std::weak_ptr<bool> alive = d_->engineAlive_;
  std::shared_ptr<THandle> done = d_->doneSignal_;
  TEngagement engaged(d_->engaged_, alive);
  // Held here: a handler may free the component or read another file.
  const std::shared_ptr<const TReleaseInfo> held = std::make_shared<const TReleaseInfo>(ParseReleaseInfo(text));
  d_->release_ = held;
  const TReleaseInfo& release = *held;
  // Signature, expiry and hash keys, before anything is acted on; this also
  // fills the file list.
  const std::string refusal = TrustInfoFile(text, release);
  if (!refusal.empty()) {
    VerificationFailed(refusal);
    // A refused info file ends the check as a refused download does.
    if (!alive.expired() && OnAborted) OnAborted(this);
    SignalWait(*done);
    return;
  }
  NoteUnusedVersionNumber();
  d_->foundRelease_ = ReleaseKey(release);
  // A release that failed to install is installed again only on a person's
  // Yes; the automatic check does not even ask on the day it failed.
  const TInstallation self = Installation(release);
  const TCheckKind check{d_->autoCheckRunning_, !d_->autoCheckRunning_ && d_->requestedCheckIgnoresRollout_};
  const TOffer offer = DecideOffer(release, self, check, CurrentOfferTime());
  if (offer.Verdict == TOfferVerdict::Refused) {
    d_->fileList_.Clear();
    VerificationFailed(offer.Reason);
    if (!alive.expired() && OnAborted) OnAborted(this);
    SignalWait(*done);
    return;
  }
  // Kept from a file whose signature was checked only: an unsigned one
  // could raise it for good and lock every later release out.
  if (release.Sequence && Keyed() && !KeepSequence(StateFolder(), d_->infoFileURL_, *release.Sequence))
    DeveloperNote("the #sequence of " + d_->infoFileURL_ + " could not be kept in " + StateFolder() +
                  ": a replay of an older info file is not recognised");
  const bool failedBefore = offer.FailedBefore;
  const bool update = offer.Verdict == TOfferVerdict::Offered;
  d_->offerUrgency_ = update ? offer.Urgency : TOfferUrgency::Normal;
  if (offer.Verdict == TOfferVerdict::Halted || offer.Verdict == TOfferVerdict::OutsideRollout)
    DeveloperNote(d_->foundRelease_ + " of " + d_->infoFileURL_ + " is not offered to this installation: " +
                  (offer.Verdict == TOfferVerdict::Halted
                       ? std::string("its rollout is halted (#rollout=0)")
                       : "it lies outside the rollout of " + release.RolloutText + "%"));
  if (update) {
    d_->updateFound_ = true;
    const std::string msg = release.Message;
    d_->foundMethod_ = static_cast<uint8_t>(release.Method);
    if (OnBeginUpgrade) OnBeginUpgrade(this, msg, FoundMethod(), d_->fileList_, d_->updateFound_);
    if (!alive.expired() && !d_->checkOnly_) {
      // A policy that does not let the person skip, and a release that may
      // not wait, turn the question into a notice.
      bool meteredAsk = false;
      const bool meteredWait = d_->updateFound_ && d_->foundMethod_ != umRedirectToURL &&
                               WaitForUnmeteredConnection(release, meteredAsk);
      const bool critical = d_->offerUrgency_ != TOfferUrgency::Normal && d_->foundMethod_ != umRedirectToURL;
      const bool mustInstall = (d_->policy_->MaySkip == false || critical) && !meteredAsk;
      const bool ask = (Wants(mAskUpgrade) && !mustInstall) || meteredAsk;
      const bool personAsked = ask && UI().AsksAPerson();
      if (d_->updateFound_ && d_->foundMethod_ != umRedirectToURL && !(d_->run_ && d_->run_->LockFd() >= 0) &&
          detail::UpgradeRunningElsewhere(CurrentExeName())) {
        FailRun(GetLangText(ltUpgradeBusy));  // told before being asked
      } else if (d_->updateFound_ && d_->foundMethod_ != umRedirectToURL && !InstallableHere()) {
        // told instead of being asked
      } else if (d_->updateFound_ && failedBefore && !personAsked && d_->foundMethod_ != umRedirectToURL) {
        PassOverFailedRelease(self.FailedOn);
      } else if (meteredWait) {
        if (OnLaterUpgrade) OnLaterUpgrade(this);
      } else if (!d_->updateFound_ || (ask && !UI().AskUpgrade(AskUpgradeText(msg)))) {
        if (!alive.expired() && OnLaterUpgrade) OnLaterUpgrade(this);
      } else if (d_->foundMethod_ == umRedirectToURL) {
        if (d_->fileList_.Count() > 0) {
          if (MayRedirectTo(d_->fileList_[0]))
            OpenWebURL(d_->fileList_[0], true);
          else
            RefuseRedirect(d_->fileList_[0]);
        }
      } else if (!alive.expired()) {
        if (mustInstall && Wants(mAskUpgrade))
          ShowUpgraderMessage(MustInstallText(d_->offerUrgency_, ShownTitle(), release) + (msg.empty() ? "" : "\n\n" + msg), mbIconInformation);
        if (alive.expired()) {
          SignalWait(*done);
          return;
        }
        if (!personAsked)
          DeveloperNote(d_->foundRelease_ + " of " + d_->infoFileURL_ + " is installed without a person's answer; should " +
                        "it fail to install or to confirm its start, it is not installed again by itself");
        StartNextFile(true);
      }
    }
  } else {
    DropResumes();
    if (OnNoUpdateAvailable) OnNoUpdateAvailable(this);
    if (!alive.expired() && !d_->autoCheckRunning_ && Wants(mNoUpdateAvailable))
      ShowUpgraderMessage(GetLangText(ltNoUpdate), mbIconInformation);
  }
  SignalWait(*done);
}

void TkvKelvora::RefuseRedirect(const std::string& Address) {
  VerificationFailed("a signed redirect opens only http and https addresses: " + Address);
  if (OnAborted) OnAborted(this);
}

void TkvKelvora::NoteUnusedVersionNumber() const {
  static std::atomic<bool> noted{false};
  if (d_->versionControl_ != byDate || d_->versionNumber_.empty() || noted.exchange(true)) return;
  DeveloperNote("VersionNumber is " + d_->versionNumber_ + " but VersionControl is byDate: releases are compared by " +
                "their date (VersionDate " + d_->versionDate_ + "), not by number. Set VersionControl to byNumber.");
}

TInstallation TkvKelvora::Installation(const TReleaseInfo& Release) {
  TInstallation self;
  self.VersionControl = d_->versionControl_;
  self.VersionNumber = d_->versionNumber_;
  self.VersionDate = d_->versionDate_;
  const std::string state = StateFolder();
  // The identifier is made only when a release is rolled out in part.
  if (Release.Rollout && *Release.Rollout > 0 && *Release.Rollout < 100'000'000u) self.Id = InstallationId(state);
  if (Keyed()) self.HighestSequence = HighestSequence(state, d_->infoFileURL_);
  self.AllowedByPolicy = d_->policy_->AllowsVersion(Release.Version);
  self.AlreadyInstalled = ReleaseAlreadyInstalled(d_->foundRelease_);
  self.FailedBefore = !self.AlreadyInstalled && ReleaseFailedBefore(d_->foundRelease_, self.FailedOn);
  return self;
}

std::string TkvKelvora::ReleaseKey(const TReleaseInfo& Release) const {
  return d_->versionControl_ == byNumber ? "#version=" + Release.Version : "#date=" + Release.Date;
}

bool TkvKelvora::ReleaseAlreadyInstalled(const std::string& Release) {
  const std::optional<TReleaseRecord> record = ReadReleaseRecord(ReleaseRecordPath());
  if (!record || !record->Names(d_->infoFileURL_, Release)) return false;
  if (record->State == TReleaseState::Confirmed) return true;
  // Handed over but not yet seen in place: a run the updater started after
  // installing it is the proof. Its confirmation settles the record when
  // one is awaited; otherwise the install is final already.
  if (record->State != TReleaseState::Attempted || !StartedAfterUpgrade()) return false;
  const std::string state = StateFolder();
  if (!updater::AwaitingConfirmation(state) && !updater::Exists(updater::FailurePath(state)))
    WriteReleaseRecord(ReleaseRecordPath(), {record->InfoURL, record->Release, TReleaseState::Confirmed, ""});
  return true;
}

bool TkvKelvora::ReleaseFailedBefore(const std::string& Release, std::string& Day) {
  const std::optional<TReleaseRecord> record = ReadReleaseRecord(ReleaseRecordPath());
  if (!record || !record->Names(d_->infoFileURL_, Release) || !record->Unsettled()) return false;
  Day = record->Day;
  return true;
}

void TkvKelvora::PassOverFailedRelease(const std::string& Day) {
  DeveloperNote(d_->foundRelease_ + " of " + d_->infoFileURL_ + " failed to install" + (Day.empty() ? "" : " on " + Day) +
                " and is passed over: it is installed again only when a person answers Yes to the question " +
                "(mAskUpgrade in ShowMessages, with a UI that asks), or once the info file offers another release");
  if (OnLaterUpgrade) OnLaterUpgrade(this);
}

void TkvKelvora::ShowUpgraderMessage(const std::string& Text, unsigned Flags) {
  UI().MessageBox(Text, GetLangText(ltWizardCaption), Flags);
}

}  // namespace kelvora
