// The engine's state: every field of a TkvKelvora, kept out of the installed
// header so that the engine can gain state without changing the class's
// size or layout (programs built against an earlier release of the same
// major number keep working).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kelvora/AdminPolicy.h"
#include "kelvora/OfferDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

struct TkvKelvora::TData {
  bool autoCheck_ = false;
  int32_t autoCheckDelay_ = 10000;
  TkvCacheOptions cacheOptions_{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache};
  TkvKelvoraInfo info_;
  std::string infoFileURL_ = "http://";
  std::string restartParams_ = "/afterupgrade";
  std::vector<std::string> restartArguments_;
  std::string lastFailure_;
  bool packageCheck_ = true;
  bool packageOwnerKnown_ = false;
  std::string packageOwner_;
  std::string foundPackageOwner_;
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
  std::string policyCompany_;
  bool downloadOnMetered_ = false;
  bool deferredOnMetered_ = false;
  bool automaticCheck_ = false;
  // Whether the release the last check offers may be postponed, and why not.
  TOfferUrgency offerUrgency_ = TOfferUrgency::Normal;  // the check under way was started by no person
  std::string policyProduct_;
  std::shared_ptr<const TAdminPolicy> policy_ = std::make_shared<const TAdminPolicy>();
  // Lets callbacks held elsewhere (the wizard's hooks) notice that this
  // component is gone.
  std::shared_ptr<bool> engineAlive_ = std::make_shared<bool>(true);
};

}  // namespace kelvora
