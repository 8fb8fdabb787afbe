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
struct TAdminPolicy;
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
// A check the administrator's policy does not allow; Reason says which value.
using TKVPolicyRefusedEvent = std::function<void(TObject* Sender, const std::string& Reason)>;
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
  // The same, saying whether nobody asked for this check (a timer's, an
  // interval's): the administrator's policy may allow a person's check and
  // refuse automatic ones. CheckUpdates(CheckOnly) counts as a person's.
  bool CheckUpdates(bool CheckOnly, bool Automatic);

  // --- published properties ---
  bool AutoCheck() const;
  void SetAutoCheck(bool Value);
  int32_t AutoCheckDelay() const;
  void SetAutoCheckDelay(int32_t Value);
  TkvCacheOptions CacheOptions() const;
  void SetCacheOptions(TkvCacheOptions Value);
  TkvKelvoraInfo& InfoFile();
  const std::string& InfoFileURL() const;
  void SetInfoFileURL(const std::string& Value);
  const std::string& RestartParams() const;
  void SetRestartParams(const std::string& Value);
  // Arguments the restarted program gets after RestartParams, each as it is
  // (not stored; empty by default). The front door keeps the program's own.
  const std::vector<std::string>& RestartArguments() const;
  void SetRestartArguments(std::vector<std::string> Value);
  TztMiscFilesUpgradeBehavior MiscFilesUpgrade() const;
  void SetMiscFilesUpgrade(TztMiscFilesUpgradeBehavior Value);
  TkvKelvoraVersionControl VersionControl() const;
  void SetVersionControl(TkvKelvoraVersionControl Value);
  const std::string& VersionDate() const;
  void SetVersionDate(const std::string& Value);
  bool VersionDateAutoSet() const;
  void SetVersionDateAutoSet(bool Value);
  const std::string& VersionNumber() const;
  void SetVersionNumber(const std::string& Value);
  TkvKelvoraShowMessages ShowMessages() const;
  void SetShowMessages(TkvKelvoraShowMessages Value);
  TkvKelvoraWizard& Wizard();
  // A check not started by the timer counts as a person's, who may take a
  // release the rollout ("#rollout=") does not yet offer to this
  // installation; a halted one never. Off: every check keeps to the rollout.
  bool RequestedCheckIgnoresRollout() const;
  void SetRequestedCheckIgnoresRollout(bool Value);
  // The publisher's public keys (base64 of the DER SubjectPublicKeyInfo of a
  // P-256 key), separated by blanks; a signature by any one is accepted.
  // Empty: info files are not required to be signed.
  const std::string& PublicKey() const;
  void SetPublicKey(const std::string& Value);
  // Whose policy an administrator sets for this program: on Windows the
  // key `SOFTWARE\Policies\<PolicyCompany>\<PolicyProduct>\Update` (HKLM,
  // then HKCU), on Linux the file `/etc/kelvora/<PolicyProduct>.json`. An
  // empty product is the program's file name without its extension.
  const std::string& PolicyCompany() const;
  void SetPolicyCompany(const std::string& Value);
  std::string PolicyProduct() const;
  void SetPolicyProduct(const std::string& Value);
  // Reads the policy again from the system (each check does) and returns it.
  const TAdminPolicy& RefreshAdminPolicy();
  // The policy the last check (or refresh) read; empty before any. Its type
  // is the engine's own (the component's front doors read it).
  const TAdminPolicy& AdminPolicy() const;
  // The release channel the policy names, empty when it names none.
  std::string PolicyChannel() const;
  // Whether the last policy read decides anything.
  bool ManagedByPolicy() const;
  // Whether a check nobody asked for may download a release over a
  // connection the system calls metered (default false: it reads the info
  // file and leaves the download for a free connection, unless the release
  // is critical). A person's check asks first either way.
  bool DownloadOnMetered() const;
  void SetDownloadOnMetered(bool Value);
  // The last check found a release and left its download for a connection
  // that is not metered.
  bool DeferredOnMetered() const;
  // Who confirms that an installed release starts (default cuOnLoaded).
  TkvConfirmUpgrade ConfirmUpgrade() const;
  void SetConfirmUpgrade(TkvConfirmUpgrade Value);
  // Seconds the restarted program has to confirm before the updater ends it
  // and puts the previous release back (default 30, at most 3600; 0: no
  // confirmation, the release is final once installed). A larger value is
  // cut to 3600 and a negative one refused (the value stays), each with a
  // developer note.
  int32_t ConfirmTimeout() const;
  void SetConfirmTimeout(int64_t Value);
  // Whether a check asks the system's package manager if it owns the
  // program (Linux: dpkg; not stored, default true). A program a package
  // owns is never replaced: the user is told to update it through the
  // package manager, and the check ends without a download.
  bool PackageCheck() const;
  void SetPackageCheck(bool Value);
  // The package that owns the program, as the host knows it (on Windows the
  // MSI product that installed it; not stored). Not empty: the program is
  // treated as owned by it, whatever PackageCheck says.
  const std::string& PackageOwner() const;
  void SetPackageOwner(const std::string& Value);
  // The package a check found to own the program (PackageOwner, or the
  // system's answer when PackageCheck is on); empty when none was found.
  const std::string& OwnedByPackage() const;

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
  // A check was refused by the administrator's policy before any request.
  TKVPolicyRefusedEvent OnPolicyRefused;

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
  bool Aborted() const;
  bool UpdateFound() const;
  bool Finished() const;
  bool InfoMode() const;
  TztUpgradeMethod FoundMethod() const;
  TkvStringList& FileList();
  const std::string& CurrentTarget() const;
  int FileIndex() const;
  bool AutoCheckFired() const;
  bool AutoCheckRunning() const;
  // Why the last run failed before or after its downloads (a folder that
  // cannot be written, another upgrade under way, no updater), as the user
  // was told; cleared when a check starts.
  const std::string& LastFailure() const;
  // The bytes the patches of the current (or last) run saved: each patched
  // file's size less its patch's; reset when an info file is read.
  int64_t PatchSavedBytes() const;
  // The release the last info file read describes; nullptr before one was
  // read. Its type is the engine's own (the component's front doors read it).
  const TReleaseInfo* ReleaseInfo() const;

  // The upgrade-UI this component talks through (default: UpgradeUI()).
  void SetUI(TkvUpgradeUI* UI);
  TkvUpgradeUI& UI() const;

  // The overall progress: FileIndex x 100 / Count rounded half to even, plus
  // the current file's share, PercentsDone div Count.
  static uint8_t TotalPercents(int FileIndex, int Count, int PercentsDone);

  // Whether the machine is online, asked by the automatic check before it
  // starts (default: IsOnline). Hosts with their own notion, and tests, set it.
  void SetOnlineProbe(std::function<bool()> Probe);

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
  bool Wants(TkvKelvoraShowMessage M) const;
  std::string AskUpgradeText(const std::string& Message) const;
  void ShowWizard();
  void EndRunWithoutData();
  // The completion page's wait; false when the run ended there without a
  // restart (cancelled, the application quit, or the component freed).
  bool WaitForCompletionPage();
  // Serves the loop until the current transfer has ended.
  void WaitForTransferEnd();
  // True while a check or an upgrade run of this component is under way.
  bool InUse() const;
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

  // Before the question (KelvoraInstallable.cpp): false, told and ended,
  // when a package owns the program or a folder the release writes cannot
  // be changed by this user.
  bool InstallableHere();
  // Asks (once) who owns the program: OwnedByPackage's answer.
  const std::string& FindPackageOwner();
  // The first folder among the program's and the targets' (their deepest
  // existing part) that cannot be written, with the error; empty when all can.
  std::string UnwritableFolder(int& Error) const;
  // Where file Index of the list goes; the deepest existing folder of Path.
  std::string ResolvedTarget(int Index) const;
  static std::string ExistingFolderOf(const std::string& Path);
  // The program's title as the questions name it.
  std::string ShownTitle() const;

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

  // Whether the release may not wait (the release-control keys decide).
  bool ReleaseIsCritical(const TReleaseInfo& Release) const;
  // Over a metered connection: true when the download waits (said to the
  // developer, the check ends as Later); Ask is set when a person must be
  // asked first.
  bool WaitForUnmeteredConnection(const TReleaseInfo& Release, bool& Ask);
  // Refuses a check the policy does not allow (said to the person when
  // one asked), true when refused.
  bool RefusedByPolicy(bool Automatic, bool CheckOnly);
  // The engine's state lives in the library (KelvoraData.h): the class keeps
  // one size and layout while the engine grows.
  struct TData;
  std::unique_ptr<TData> d_;
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
