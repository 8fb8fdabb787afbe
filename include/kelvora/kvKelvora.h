// Unit kvKelvora: the upgrade component. A host creates one TkvKelvora, sets
// InfoFileURL and its own version (VersionDate or VersionNumber), and calls
// CheckUpdates, or lets the component check by itself on a timer.
#pragma once

#include "kelvora/kelvora_export.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kelvora/kvHTTP.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/kvUpgradeUI.h"
#include "kelvora/kvUtils.h"

namespace kelvora {

namespace detail {
class TUpgradeRun;
struct TPatchRound;
class TDownloadResume;
class TPartFile;
}
namespace ui {
class TProgressMeter;
}
namespace trust {
class TArrivalHash;
}
struct TReleaseRecord;
struct TReleaseInfo;
struct TInstallation;

enum TztUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };
enum TztMiscFilesUpgradeBehavior { mfuAlwaysDownload, mfuOnlyIfSizeDifferent };
enum TkvKelvoraVersionControl { byDate, byNumber };
// When the restarted program confirms that the new release starts: by
// itself once Loaded has run (after OnAfterRestart), or when the host calls
// ConfirmUpgradeNow.
enum TkvConfirmUpgrade { cuOnLoaded, cuByHost };

enum TkvKelvoraShowMessage : uint8_t {
  mAskUpgrade,
  mConnLost,
  mHostUnreachable,
  mLostFile,
  mNoInfoFile,
  mNoUpdateAvailable,
  mPasswordRequest
};
// A set of TkvKelvoraShowMessage: bit (1 << value).
using TkvKelvoraShowMessages = uint8_t;
constexpr TkvKelvoraShowMessages ShowMessagesOf(std::initializer_list<TkvKelvoraShowMessage> Items) {
  TkvKelvoraShowMessages s = 0;
  for (auto m : Items) s = static_cast<TkvKelvoraShowMessages>(s | (1u << m));
  return s;
}
inline constexpr TkvKelvoraShowMessages kDefaultShowMessages =
    ShowMessagesOf({mAskUpgrade, mConnLost, mLostFile, mPasswordRequest});  // 75

using TKVBeginUpgradeEvent = std::function<void(TObject* Sender, const std::string& UpgradeMsg,
                                                TztUpgradeMethod UpgradeMethod, TkvStringList& Files,
                                                bool& CanUpgrade)>;
using TKVEndUpgradeEvent = std::function<void(TObject* Sender, bool& RestartImediately)>;
using TKVProgressEvent =
    std::function<void(TObject* Sender, const std::string& FileURL, int64_t FileSize, int64_t BytesRead,
                       int32_t ElapsedTime, int32_t EstimatedTimeLeft, uint8_t PercentsDone,
                       uint8_t TotalPercentsDone, float TransferRate)>;
using TKVFileStartEvent = std::function<void(TObject* Sender, const std::string& FileURL, int64_t FileSize,
                                             const TDateTime& FileTime, bool& CanUpgrade)>;
using TKVFileDoneEvent = std::function<void(TObject* Sender, const std::string& FileName)>;
using TKVHostUnreachableEvent =
    std::function<void(TObject* Sender, const std::string& URL, const std::string& Hostname)>;
using TKVLostFileEvent =
    std::function<void(TObject* Sender, const std::string& FileURL, int32_t ErrorCode, bool& ContinueUpgrade)>;
using TKVVerificationFailedEvent = std::function<void(TObject* Sender, const std::string& Reason)>;
using TKVUpgradeFailedEvent = std::function<void(TObject* Sender, const std::string& Reason)>;
// A listed file was built from the installed one and a patch of PatchSize
// bytes fetched from PatchURL, instead of downloading its FileSize bytes.
using TKVPatchAppliedEvent =
    std::function<void(TObject* Sender, const std::string& PatchURL, int64_t PatchSize, int64_t FileSize)>;

// What the developer keeps of the info file to be published; the check never
// reads it.
class KELVORA_EXPORT TkvKelvoraInfo : public TPersistent {
 public:
  TkvKelvoraInfo() = default;
  TkvStringList& Files() { return files_; }
  const TkvStringList& Files() const { return files_; }
  void SetFiles(const TStringList& Value) { files_.Assign(&Value); }
  TztUpgradeMethod UpgradeMethod() const { return upgradeMethod_; }
  void SetUpgradeMethod(TztUpgradeMethod Value) { upgradeMethod_ = Value; }
  const std::string& UpgradeMsg() const { return upgradeMsg_; }
  void SetUpgradeMsg(const std::string& Value) { upgradeMsg_ = Value; }
  void DefineProperties(TPropertyList& List) override;
  void Assign(const TPersistent* Source) override;

 private:
  TkvStringList files_;
  TztUpgradeMethod upgradeMethod_ = umSelfUpgrade;
  std::string upgradeMsg_;
};

// Settings of the wizard window.
class KELVORA_EXPORT TkvKelvoraWizard : public TPersistent {
 public:
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool Value) { enabled_ = Value; }
  bool HideFileLocation() const { return hideFileLocation_; }
  void SetHideFileLocation(bool Value) { hideFileLocation_ = Value; }
  // The picture: a file name of an image (empty: the built-in picture).
  const std::string& Pic118x218() const { return picture_; }
  void SetPic118x218(const std::string& Value) { picture_ = Value; }
  // The language of every text, process-wide: the last component to set it
  // decides for all.
  TkvKelvoraLanguage Language() const { return language_; }
  void SetLanguage(TkvKelvoraLanguage Value);
  bool StayOnTop() const { return stayOnTop_; }
  void SetStayOnTop(bool Value) { stayOnTop_ = Value; }
  void DefineProperties(TPropertyList& List) override;
  void Assign(const TPersistent* Source) override;

 private:
  bool enabled_ = true;
  bool hideFileLocation_ = false;
  std::string picture_;
  TkvKelvoraLanguage language_ = wlAuto;
  bool stayOnTop_ = true;
};

class KELVORA_EXPORT TkvKelvora : public TkvCustomHTTP {
 public:
  explicit TkvKelvora(TComponent* AOwner);
  ~TkvKelvora() override;

  void Loaded() override;
  void DefineProperties(TPropertyList& List) override;

  // Starts a check. With CheckOnly false it returns at once and an update
  // found goes on into the upgrade; with CheckOnly true it waits (serving
  // the loop) until the info file has been handled, never asks or downloads,
  // and returns whether an update is available.
  bool CheckUpdates(bool CheckOnly = false);

  // --- published properties ---
  bool AutoCheck() const { return autoCheck_; }
  void SetAutoCheck(bool Value);
  int32_t AutoCheckDelay() const { return autoCheckDelay_; }
  void SetAutoCheckDelay(int32_t Value) { autoCheckDelay_ = Value; }
  TkvCacheOptions CacheOptions() const { return cacheOptions_; }
  void SetCacheOptions(TkvCacheOptions Value) { cacheOptions_ = Value; }
  TkvKelvoraInfo& InfoFile() { return info_; }
  const std::string& InfoFileURL() const { return infoFileURL_; }
  void SetInfoFileURL(const std::string& Value) { infoFileURL_ = Value; }
  const std::string& RestartParams() const { return restartParams_; }
  void SetRestartParams(const std::string& Value);
  // Arguments the restarted program gets after RestartParams, each as it is
  // (not stored; empty by default). The front door keeps the program's own.
  const std::vector<std::string>& RestartArguments() const { return restartArguments_; }
  void SetRestartArguments(std::vector<std::string> Value) { restartArguments_ = std::move(Value); }
  TztMiscFilesUpgradeBehavior MiscFilesUpgrade() const { return miscFilesUpgrade_; }
  void SetMiscFilesUpgrade(TztMiscFilesUpgradeBehavior Value) { miscFilesUpgrade_ = Value; }
  TkvKelvoraVersionControl VersionControl() const { return versionControl_; }
  void SetVersionControl(TkvKelvoraVersionControl Value) { versionControl_ = Value; }
  const std::string& VersionDate() const { return versionDate_; }
  void SetVersionDate(const std::string& Value) { versionDate_ = Value; }
  bool VersionDateAutoSet() const { return versionDateAutoSet_; }
  void SetVersionDateAutoSet(bool Value);
  const std::string& VersionNumber() const { return versionNumber_; }
  void SetVersionNumber(const std::string& Value) { versionNumber_ = Value; }
  // A check not started by the timer counts as a person's, who may take a
  // release the rollout ("#rollout=") does not yet offer to this
  // installation; a halted one never. Off: every check keeps to the rollout.
  bool RequestedCheckIgnoresRollout() const { return requestedCheckIgnoresRollout_; }
  void SetRequestedCheckIgnoresRollout(bool Value) { requestedCheckIgnoresRollout_ = Value; }
  TkvKelvoraShowMessages ShowMessages() const { return showMessages_; }
  void SetShowMessages(TkvKelvoraShowMessages Value) { showMessages_ = Value; }
  TkvKelvoraWizard& Wizard() { return wizard_; }
  // The publisher's public keys (base64 of the DER SubjectPublicKeyInfo of a
  // P-256 key), separated by blanks; a signature by any one is accepted.
  // Empty: info files are not required to be signed.
  const std::string& PublicKey() const { return publicKey_; }
  void SetPublicKey(const std::string& Value) { publicKey_ = Value; }
  // Who confirms that an installed release starts (default cuOnLoaded).
  TkvConfirmUpgrade ConfirmUpgrade() const { return confirmUpgrade_; }
  void SetConfirmUpgrade(TkvConfirmUpgrade Value) { confirmUpgrade_ = Value; }
  // Seconds the restarted program has to confirm before the updater ends it
  // and puts the previous release back (default 30, at most 3600; 0: no
  // confirmation, the release is final once installed). A larger value is
  // cut to 3600 and a negative one refused (the value stays), each with a
  // developer note.
  int32_t ConfirmTimeout() const { return confirmTimeout_; }
  void SetConfirmTimeout(int64_t Value);

  // Confirms that this program, started after an upgrade, works: the install
  // becomes final and the updater ends. True when an install was waiting for
  // it. With cuOnLoaded the component calls it itself at the end of Loaded.
  bool ConfirmUpgradeNow();
  // The transfer component's ProgressInterval, 50 ms here: the downloads
  // run at the pace of the disk and OnProgress (and the wizard) follow at
  // most once per interval. 0 gives an event per block.
  // (ProgressInterval / SetProgressInterval are inherited.)

  TKVBeginUpgradeEvent OnBeginUpgrade;
  TKVEndUpgradeEvent OnEndUpgrade;
  TNotifyEvent OnLaterUpgrade;
  TKVProgressEvent OnProgress;
  TKVFileStartEvent OnFileStart;
  TKVFileDoneEvent OnFileDone;
  TNotifyEvent OnDoOwnCloseAppMethod;
  TNotifyEvent OnAfterRestart;
  TNotifyEvent OnAborted;
  TNotifyEvent OnConnLost;
  TKVHostUnreachableEvent OnHostUnreachable;
  TNotifyEvent OnNoUpdateAvailable;
  TNotifyEvent OnNoInfoFile;
  TKVLostFileEvent OnLostFile;
  TkvHTTPPasswordRequestEvent OnPasswordRequest;
  // An info file or a download was refused: unsigned, badly signed, expired,
  // or a file whose size or SHA-256 differs from what the info file lists.
  TKVVerificationFailedEvent OnVerificationFailed;
  // The last upgrade could not be installed, or the new release did not
  // confirm its start: the previous release was put back and runs now.
  // Reason names the file and the cause. Fired once, during Loaded.
  TKVUpgradeFailedEvent OnUpgradeFailed;
  // A file of the run was made from its installed release and a patch the
  // info file offers ("#patch" keys), checked against the file's "#hash".
  TKVPatchAppliedEvent OnPatchApplied;

  // --- the engine's steps, public for hosts and tests ---
  std::string ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced = false) const;
  bool IsNewerVersion(const std::string& Text) const;
  void ParseInfoFile(TStream& Data);
  void StartNextFile(bool First);
  void StopUpgrade();
  void AbortUpgrade();
  // Removes what the current run wrote (only while it holds the upgrade
  // lock: never another instance's files), except the part files kept for
  // the next run of the same release to continue.
  void DeleteTempFiles();
  void RestartApplication();
  void LaunchUpdater(const std::string& Params);

  // --- state, read-only ---
  bool Aborted() const { return aborted_; }
  bool UpdateFound() const { return updateFound_; }
  bool Finished() const { return finished_; }
  bool InfoMode() const { return infoMode_; }
  TztUpgradeMethod FoundMethod() const { return static_cast<TztUpgradeMethod>(foundMethod_); }
  TkvStringList& FileList() { return fileList_; }
  const std::string& CurrentTarget() const { return currentTarget_; }
  int FileIndex() const { return fileIndex_; }
  bool AutoCheckFired() const { return autoCheckFired_; }
  bool AutoCheckRunning() const { return autoCheckRunning_; }
  // Why the last run failed before or after its downloads (a folder that
  // cannot be written, another upgrade under way, no updater), as the user
  // was told; cleared when a check starts.
  const std::string& LastFailure() const { return lastFailure_; }
  // The bytes the patches of the current (or last) run saved: each patched
  // file's size less its patch's; reset when an info file is read.
  int64_t PatchSavedBytes() const { return patchSavedBytes_; }
  // The release the last info file read describes; nullptr before one was
  // read. Its type is the engine's own (the component's front doors read it).
  const TReleaseInfo* ReleaseInfo() const { return release_.get(); }

  // The upgrade-UI this component talks through (default: UpgradeUI()).
  void SetUI(TkvUpgradeUI* UI) { ui_ = UI; }
  TkvUpgradeUI& UI() const { return ui_ != nullptr ? *ui_ : UpgradeUI(); }

  // The overall progress: FileIndex x 100 / Count rounded half to even, plus
  // the current file's share, PercentsDone div Count.
  static uint8_t TotalPercents(int FileIndex, int Count, int PercentsDone);

  // Whether the machine is online, asked by the automatic check before it
  // starts (default: IsOnline). Hosts with their own notion, and tests, set it.
  void SetOnlineProbe(std::function<bool()> Probe) { onlineProbe_ = std::move(Probe); }

  // The automatic-check timer's id on the loop back-end.
  static constexpr unsigned kAutoCheckTimerId = 1;
  // Upper bound on an info file read into memory: larger ones are treated as
  // not being an info file.
  static constexpr int64_t kMaxInfoFileSize = 4 * 1024 * 1024;
  // The engine's own ProgressInterval, in milliseconds.
  static constexpr int32_t kDefaultProgressInterval = 50;

 private:
  void RearmAutoCheckTimer();
  void AutoCheckTimer();
  void SetInfoMode(bool On);
  void ShowUpgraderMessage(const std::string& Text, unsigned Flags);
  bool Wants(TkvKelvoraShowMessage M) const { return (showMessages_ & (1u << M)) != 0; }
  std::string AskUpgradeText(const std::string& Message) const;
  void ShowWizard();
  void EndRunWithoutData();
  // The completion page's wait; false when the run ended there without a
  // restart (cancelled, the application quit, or the component freed).
  bool WaitForCompletionPage();
  // Serves the loop until the current transfer has ended.
  void WaitForTransferEnd();
  // True while a check or an upgrade run of this component is under way.
  bool InUse() const { return Busy() || engaged_ > 0; }
  // The release the info file announces, as a key that names it.
  std::string ReleaseKey(const TReleaseInfo& Release) const;
  bool IsNewerRelease(const TReleaseInfo& Release) const;
  // What this installation knows of itself for the offer decision.
  TInstallation Installation(const TReleaseInfo& Release);
  // Whether PublicKey is set: info files are then checked before use.
  bool Keyed() const;
  // Whether Release is the one the last hand-over installed (see
  // ReleaseRecord.h), so that a restarted program does not install it again.
  bool ReleaseAlreadyInstalled(const std::string& Release);
  // Notes the release being handed over to the updater as attempted, before
  // the updater starts; false (nothing handed over) when that cannot be
  // written. ForgetHandOver puts back the record it replaced, for an updater
  // that did not start.
  bool RecordHandOver();
  void ForgetHandOver();
  // Whether Release failed to install (or its install ended without a known
  // outcome) according to the record; Day gets the day of that attempt.
  bool ReleaseFailedBefore(const std::string& Release, std::string& Day);
  // The automatic path meets a release that failed: passed over, and said.
  void PassOverFailedRelease(const std::string& Day);
  // No listed file was downloaded: nothing is handed over.
  bool NothingToInstall() const;
  // The process was started with RestartParams as its first parameter.
  bool StartedAfterUpgrade() const;

  // The run as a transaction (KelvoraTransaction.cpp).
  bool BeginRun();
  bool CommitRun();
  void FailRun(const std::string& Text);
  void HandleWriteError(const std::string& FileName, int32_t ErrorCode);
  void RecoverInterruptedUpgrade();
  void RemoveOldUpdaters();
  // At Loaded: an install left waiting for a confirmation, and a failed one
  // to report.
  void ResolveUpgradeAtLoad();
  void ReportFailedUpgrade();
  // Starts the updater to settle the records once this process has ended,
  // and to start the program again; false when it did not start.
  bool HandRecoveryToUpdater(int LockFd);

  // Handlers of the HTTP component's events.
  void HandleHeaderInfo(int64_t ContentLength, TDateTime LastModified, bool& ContinueDownload);
  void HandleDone(TStream* Data);
  void HandleDownloadStopped();
  void HandleReadProgress(int64_t FileSize, int64_t BytesRead, int32_t ElapsedTime, int32_t EstimatedTimeLeft,
                          uint8_t PercentsDone, float TransferRate);
  void HandleConnectionLost();
  void HandleNoConnection();
  void HandleHTTPError(int32_t StatusCode);
  void HandlePasswordRequest(const std::string& Realm, bool& TryAgain);
  void HandleTransferAborted();
  void RejectOversizedInfoFile();

  // The trust layer's hooks (KelvoraTrust.cpp).
  struct TExpectedFile {
    std::string Sha256;
    int64_t Size = 0;
  };
  // Empty when the info file Text, read as Release, may be acted on;
  // otherwise why not. Fills the file list and what each file must be.
  std::string TrustInfoFile(const std::string& Text, const TReleaseInfo& Release);
  bool MayRedirectTo(const std::string& Address) const;
  const TExpectedFile* CurrentExpectation() const;
  bool PartialAnswerFits();
  bool AnnouncedSizeFits(int64_t ContentLength);
  bool ReceivedSizeFits(int64_t BytesRead);
  // Before each transfer: the size past which the first progress event must
  // come at once, and the hash of the bytes as they arrive.
  void WatchTransfer();
  bool DownloadVerified(const std::string& Path);
  void RefuseDownload();
  void VerificationFailed(const std::string& Reason);
  void RefuseRedirect(const std::string& Address);
  // Patches from the installed release (KelvoraPatch.cpp): the offers of
  // the info file, the patch's download in place of the file's, the file
  // built from it, and the one fall-back to the whole file.
  std::string ReadOffers(const TReleaseInfo& Release, const std::vector<std::string>& Suffixes);
  bool PatchActive() const;
  bool StartPatch(const std::string& Final);
  // The part file of Final as the output of the next transfer: continued
  // from ResumeFrom when an earlier run's part still allows it, else made
  // new (KelvoraDownload.cpp). Where the transfer continues from, -1 when
  // the part cannot be had (output_ says why).
  int64_t OpenPart(const std::string& Final, int64_t ResumeFrom);
  void CloseOutputs();
  // A part file that could not be had or kept: a refusal when somebody else
  // put something at its name, otherwise a write error.
  void FailPart(const std::string& FileName, int Error);
  bool BuildFromPatch(const std::string& Part);
  void FallBackToWholeFile(const std::string& Reason);
  bool EndPatchStep();
  // A version number set, but dates compared: told to the developer once.
  void NoteUnusedVersionNumber() const;

  // Downloads continued across runs (KelvoraResume.cpp): the record settled
  // when the run begins, the point a file continues from, its guarded range
  // request, the validator noted at the header, the one fresh fetch when the
  // answer to that request fails, and the end of it all at commit.
  void SettleResumes();
  int64_t ResumePoint(const std::string& Final);
  void ReadFrom(int64_t Position);
  void NoteResumable(bool ContinueDownload);
  bool RetryFromStart(const std::string& Reason);
  void ForgetResume();
  bool KeepsPartOnStop() const;
  void EndResumes();
  // No release to download: parts left for one are removed.
  void DropResumes();

  bool autoCheck_ = false;
  int32_t autoCheckDelay_ = 10000;
  TkvCacheOptions cacheOptions_{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache};
  TkvKelvoraInfo info_;
  std::string infoFileURL_ = "http://";
  std::string restartParams_ = "/afterupgrade";
  std::vector<std::string> restartArguments_;
  std::string lastFailure_;
  TztMiscFilesUpgradeBehavior miscFilesUpgrade_ = mfuAlwaysDownload;
  TkvKelvoraVersionControl versionControl_ = byDate;
  std::string versionDate_;
  bool versionDateAutoSet_ = true;
  bool requestedCheckIgnoresRollout_ = false;
  std::string versionNumber_;
  TkvKelvoraShowMessages showMessages_ = kDefaultShowMessages;
  TkvKelvoraWizard wizard_;
  std::string publicKey_;
  TkvConfirmUpgrade confirmUpgrade_ = cuOnLoaded;
  int32_t confirmTimeout_ = 30;

  bool aborted_ = false;
  bool updateFound_ = false;
  bool checkOnly_ = false;
  bool autoCheckFired_ = false;
  bool autoCheckRunning_ = false;
  bool infoMode_ = false;
  bool finished_ = false;
  bool infoOversized_ = false;
  // How many of the engine's own steps that serve the loop (the check-only
  // wait, the handling of an info file with its question, the completion
  // page) are running: a CheckUpdates from inside them starts nothing.
  int engaged_ = 0;
  uint8_t foundMethod_ = 0;
  std::string foundRelease_;
  // The last info file read, parsed once; every step reads it from here.
  std::shared_ptr<const TReleaseInfo> release_;
  TkvStringList fileList_;
  // The final local name of every listed file, resolved when the run begins.
  std::vector<std::string> targets_;
  std::shared_ptr<detail::TUpgradeRun> run_;
  // The release record the hand-over replaced (null: there was none).
  std::shared_ptr<TReleaseRecord> recordBefore_;
  bool handOverRecorded_ = false;
  std::shared_ptr<detail::TDownloadResume> resume_;
  std::string resumeValidator_;
  std::string updaterFolder_;
  // An install waits for its confirmation and no updater holds the lock: the
  // start-up decides at Loaded.
  bool journalAtStart_ = false;
  // The install on record could be undone neither here nor by the updater:
  // nothing of it is reported yet.
  bool undoPending_ = false;
  // The lock held by this process while it owes the confirmation itself
  // (its updater is gone).
  std::shared_ptr<detail::TUpgradeRun> confirmRun_;
  bool programTargetNoted_ = false;
  std::string currentTarget_;
  TDateTime serverFileTime_ = 0;
  int fileIndex_ = 0;
  // Times the current file for the rate and time left the user is shown.
  std::shared_ptr<ui::TProgressMeter> progressMeter_;
  // The wait handle of DoneSignal. Shared, so that a wait still running when
  // a handler frees the component has somewhere to write its end.
  std::shared_ptr<THandle> doneSignal_ = std::make_shared<THandle>(-1);
  // Size and SHA-256 of each listed address, from the info file.
  std::map<std::string, TExpectedFile> expectedFiles_;
  // The SHA-256 of the current download, taken from its bytes as they are
  // written (when it lists a hash).
  std::shared_ptr<trust::TArrivalHash> arrivalHash_;
  // Why the current download is refused, while its transfer winds down.
  std::string pendingRefusal_;
  std::shared_ptr<detail::TPatchRound> patch_;
  // The current entry's part file, held open from its creation until it is
  // complete.
  std::shared_ptr<detail::TPartFile> output_;
  // The patch being downloaded, as its expectation.
  TExpectedFile patchExpected_;
  int64_t patchSavedBytes_ = 0;
  TkvUpgradeUI* ui_ = nullptr;
  std::function<bool()> onlineProbe_;
  // Lets callbacks held elsewhere (the wizard's hooks) notice that this
  // component is gone.
  std::shared_ptr<bool> engineAlive_ = std::make_shared<bool>(true);
};

// The updater program's usual path: the temporary folder followed by
// "AppUpdate-<12 hex digits>.exe", a name of the running program's own
// (from a hash of its full path), so that two programs never share one.
// Where that folder cannot run programs, the updater is written under the
// same name to the program's state folder instead.
KELVORA_EXPORT const std::string& UpdaterPath();
// The queue file of the running program, in its state folder.
KELVORA_EXPORT std::string QueueFilePath();

}  // namespace kelvora
