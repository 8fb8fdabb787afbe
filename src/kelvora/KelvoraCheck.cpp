// The info file and the version decision.
#include <atomic>

#include "kelvora/Application.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Engagement.h"
#include "kelvora/InfoFile.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

std::string TkvKelvora::ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced) const {
  return kelvora::ReadInfoValue(Text, Key, Braced);
}

bool TkvKelvora::IsNewerVersion(const std::string& Text) const {
  return versionControl_ == byNumber ? IsNewerByNumber(Text, versionNumber_) : IsNewerByDate(Text, versionDate_);
}

std::string TkvKelvora::AskUpgradeText(const std::string& Message) const {
  std::string title = ProgramTitle();
  const std::string devEnv = GetResourceText(kDevEnvNameTextId);
  if (!devEnv.empty() && title.find(devEnv) != std::string::npos) title = GetResourceText(kAppTitleStandInTextId);
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
  std::weak_ptr<bool> alive = engineAlive_;
  std::shared_ptr<THandle> done = doneSignal_;
  TEngagement engaged(engaged_, alive);
  // Signature, expiry and hash keys, before anything is acted on; this also
  // reads the file list.
  const std::string refusal = TrustInfoFile(text);
  if (!refusal.empty()) {
    VerificationFailed(refusal);
    // A refused info file ends the check as a refused download does.
    if (!alive.expired() && OnAborted) OnAborted(this);
    SignalWait(*done);
    return;
  }
  NoteUnusedVersionNumber();
  foundRelease_ = ReleaseKey(text);
  // A release that failed to install today is not offered again by the
  // automatic check (a host's own check still offers it).
  const bool update = IsNewerVersion(text) && fileList_.Count() > 0 && !ReleaseAlreadyInstalled(foundRelease_) &&
                      !(autoCheckRunning_ && ReleaseFailedToday(foundRelease_));
  if (update) {
    updateFound_ = true;
    const std::string msg = ReadInfoValue(text, "#message", true);
    foundMethod_ = static_cast<uint8_t>(ReadUpgradeMethod(text));
    if (OnBeginUpgrade) OnBeginUpgrade(this, msg, FoundMethod(), fileList_, updateFound_);
    if (!alive.expired() && !checkOnly_) {
      if (updateFound_ && foundMethod_ != umRedirectToURL && !(run_ && run_->LockFd() >= 0) &&
          detail::UpgradeRunningElsewhere(CurrentExeName())) {
        FailRun(GetLangText(ltUpgradeBusy));  // told before being asked
      } else if (!updateFound_ || (Wants(mAskUpgrade) && !UI().AskUpgrade(AskUpgradeText(msg)))) {
        if (!alive.expired() && OnLaterUpgrade) OnLaterUpgrade(this);
      } else if (foundMethod_ == umRedirectToURL) {
        if (fileList_.Count() > 0) {
          if (MayRedirectTo(fileList_[0]))
            OpenWebURL(fileList_[0], true);
          else
            RefuseRedirect(fileList_[0]);
        }
      } else if (!alive.expired()) {
        StartNextFile(true);
      }
    }
  } else {
    DropResumes();
    if (OnNoUpdateAvailable) OnNoUpdateAvailable(this);
    if (!alive.expired() && !autoCheckRunning_ && Wants(mNoUpdateAvailable))
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
  if (versionControl_ != byDate || versionNumber_.empty() || noted.exchange(true)) return;
  DeveloperNote("VersionNumber is " + versionNumber_ + " but VersionControl is byDate: releases are compared by " +
                "their date (VersionDate " + versionDate_ + "), not by number. Set VersionControl to byNumber.");
}

std::string TkvKelvora::ReleaseKey(const std::string& Text) const {
  return versionControl_ == byNumber ? "#version=" + ReadInfoValue(Text, "#version")
                                     : "#date=" + ReadInfoValue(Text, "#date");
}

bool TkvKelvora::ReleaseAlreadyInstalled(const std::string& Release) {
  const std::optional<TReleaseRecord> record = ReadReleaseRecord(ReleaseRecordPath());
  if (!record || record->InfoURL != infoFileURL_ || record->Release != Release) return false;
  if (record->Confirmed) return true;
  // Handed over but not yet seen in place: a run the updater started after
  // installing it is the proof; any other run installs it (again).
  if (!StartedAfterUpgrade()) return false;
  WriteReleaseRecord(ReleaseRecordPath(), {record->InfoURL, record->Release, true, ""});
  return true;
}

void TkvKelvora::RecordHandOver() {
  // Failing to write it costs only the protection it gives.
  WriteReleaseRecord(ReleaseRecordPath(), {infoFileURL_, foundRelease_, false, ""});
}

void TkvKelvora::ShowUpgraderMessage(const std::string& Text, unsigned Flags) {
  UI().MessageBox(Text, GetLangText(ltWizardCaption), Flags);
}

}  // namespace kelvora
