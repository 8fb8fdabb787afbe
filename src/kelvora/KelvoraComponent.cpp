// The upgrade component: defaults, stored properties, start-up, the
// automatic-check timer and CheckUpdates.
#include <chrono>
#include <cstdio>

#include "kelvora/Application.h"
#include "kelvora/Engagement.h"
#include "kelvora/Properties.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

TkvKelvora::TkvKelvora(TComponent* AOwner) : TkvCustomHTTP(AOwner) {
  // Every download stays hidden while it waits for its replacement.
  OutputFileAttributes().SetIncomplete({atrHidden, atrTemporary});
  OutputFileAttributes().SetComplete({atrArchive, atrHidden, atrTemporary});
  SetProgressInterval(kDefaultProgressInterval);

  OnHeaderInfo = [this](TObject*, int, const std::string&, const std::string&, const std::string&,
                        const std::string&, int64_t ContentLength, const std::string&, TDateTime, TDateTime LastModified,
                        TDateTime, const std::string&, bool& ContinueDownload) {
    HandleHeaderInfo(ContentLength, LastModified, ContinueDownload);
  };
  OnDone = [this](TObject*, const std::string&, int64_t, TStream* Data) { HandleDone(Data); };
  OnDownloadStopped = [this](TObject*) { HandleDownloadStopped(); };
  OnReadProgress = [this](TObject*, const std::string&, int64_t FileSize, int64_t BytesRead, int32_t ElapsedTime,
                          int32_t EstimatedTimeLeft, uint8_t PercentsDone, float TransferRate, TStream*) {
    HandleReadProgress(FileSize, BytesRead, ElapsedTime, EstimatedTimeLeft, PercentsDone, TransferRate);
  };
  OnConnectionLost = [this](TObject*, const std::string&, int64_t, int64_t, TStream*) { HandleConnectionLost(); };
  OnNoConnection = [this](TObject*) { HandleNoConnection(); };
  OnHTTPError = [this](TObject*, int32_t StatusCode, TStream*) { HandleHTTPError(StatusCode); };
  OnHTTPPasswordRequest = [this](TObject*, const std::string& Realm, bool& TryAgain) {
    HandlePasswordRequest(Realm, TryAgain);
  };
  // A transfer that completed without data is neither an info file nor a
  // download: the run must end rather than wait for one.
  OnDoneWithoutData = [this](TObject*) { EndRunWithoutData(); };
  OnTransferAborted = [this](TObject*) { HandleTransferAborted(); };
  OnWriteError = [this](TObject*, const std::string& FileName, int32_t ErrorCode) {
    HandleWriteError(FileName, ErrorCode);
  };

  // Before anything else: an install cut short is completed, what an
  // unfinished run left is removed.
  RecoverInterruptedUpgrade();
  versionDate_ = FormatEngineDate(TodayDate());
  wizard_.SetLanguage(wlAuto);
}

TkvKelvora::~TkvKelvora() {
  Destroying();
  *engineAlive_ = false;
  autoCheck_ = false;
  LoopBackend().KillTimer(this, kAutoCheckTimerId);
  if (UI().HasWizard()) UI().DestroyWizard();
}

void TkvKelvora::Loaded() {
  TkvCustomHTTP::Loaded();
  ResolveUpgradeAtLoad();
  ReportFailedUpgrade();
  std::weak_ptr<bool> alive = engineAlive_;
  if (OnAfterRestart && StartedAfterUpgrade()) OnAfterRestart(this);
  // The release has started and its host's handler has returned.
  if (!alive.expired() && confirmUpgrade_ == cuOnLoaded) ConfirmUpgradeNow();
}

void TkvKelvora::DefineProperties(TPropertyList& L) {
  TkvCustomHTTP::DefineProperties(L);  // the login, stored as "LInfo"
  static const std::vector<std::string> ioNames = {
      "ioIgnoreCertificateInvalid", "ioIgnoreCertificateDateInvalid", "ioIgnoreUnknownCertificateAuthority",
      "ioIgnoreRedirectToHTTP",     "ioIgnoreRedirectToHTTPS",        "ioKeepConnection",
      "ioNoAuthentication",         "ioNoAutoRedirect",               "ioNoCookies"};
  static const std::vector<std::string> coNames = {
      "coAlwaysReload", "coReloadIfNoExpireInformation", "coReloadUpdatedObjects", "coPragmaNoCache",
      "coNoCacheWrite", "coCreateTempFilesIfCantCache",  "coUseCacheIfNetFail"};
  static const std::vector<std::string> tpNames = {"tpIdle",   "tpLowest",  "tpLower",       "tpNormal",
                                                   "tpHigher", "tpHighest", "tpTimeCritical"};
  L.Object("Proxy", Proxy());
  L.Set("InternetOptions", ioNames, [this] { return static_cast<uint32_t>(InternetOptions().ToBits()); },
        [this](uint32_t v) { SetInternetOptions(TkvInternetOptions::FromBits(static_cast<uint16_t>(v))); },
        TkvInternetOptions{ioKeepConnection}.ToBits());
  L.Enum("ThreadPriority", tpNames, [this] { return static_cast<int>(ThreadPriority()); },
         [this](int v) { SetThreadPriority(static_cast<TThreadPriority>(v)); }, tpNormal);
  L.Integer("TransferBufferSize", [this] { return TransferBufferSize(); },
            [this](int64_t v) { SetTransferBufferSize(static_cast<int32_t>(v)); }, 4096);
  L.Integer("ProgressInterval", [this] { return ProgressInterval(); },
            [this](int64_t v) { SetProgressInterval(static_cast<int32_t>(v)); }, kDefaultProgressInterval);
  L.Boolean("AutoCheck", [this] { return autoCheck_; }, [this](bool v) { SetAutoCheck(v); }, false);
  L.Integer("AutoCheckDelay", [this] { return autoCheckDelay_; },
            [this](int64_t v) { autoCheckDelay_ = static_cast<int32_t>(v); }, 10000);
  L.Set("CacheOptions", coNames, [this] { return static_cast<uint32_t>(cacheOptions_.ToBits()); },
        [this](uint32_t v) { cacheOptions_ = TkvCacheOptions::FromBits(static_cast<uint8_t>(v)); },
        TkvCacheOptions{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache}.ToBits());
  L.Object("InfoFile", info_);
  L.String("InfoFileURL", [this] { return infoFileURL_; }, [this](const std::string& v) { infoFileURL_ = v; },
           std::nullopt);
  L.String("RestartParams", [this] { return restartParams_; }, [this](const std::string& v) { SetRestartParams(v); },
           std::string("/afterupgrade"));
  L.Enum("MiscFilesUpgrade", {"mfuAlwaysDownload", "mfuOnlyIfSizeDifferent"},
         [this] { return static_cast<int>(miscFilesUpgrade_); },
         [this](int v) { miscFilesUpgrade_ = static_cast<TztMiscFilesUpgradeBehavior>(v); }, mfuAlwaysDownload);
  L.Enum("VersionControl", {"byDate", "byNumber"}, [this] { return static_cast<int>(versionControl_); },
         [this](int v) { versionControl_ = static_cast<TkvKelvoraVersionControl>(v); }, byDate);
  L.String("VersionDate", [this] { return versionDate_; }, [this](const std::string& v) { versionDate_ = v; },
           std::nullopt);
  L.Boolean("VersionDateAutoSet", [this] { return versionDateAutoSet_; },
            [this](bool v) { SetVersionDateAutoSet(v); }, std::nullopt);
  L.String("VersionNumber", [this] { return versionNumber_; }, [this](const std::string& v) { versionNumber_ = v; },
           std::string());
  L.Set("ShowMessages",
        {"mAskUpgrade", "mConnLost", "mHostUnreachable", "mLostFile", "mNoInfoFile", "mNoUpdateAvailable",
         "mPasswordRequest"},
        [this] { return static_cast<uint32_t>(showMessages_); },
        [this](uint32_t v) { showMessages_ = static_cast<TkvKelvoraShowMessages>(v); }, kDefaultShowMessages);
  L.Object("Wizard", wizard_);
  L.String("PublicKey", [this] { return publicKey_; }, [this](const std::string& v) { publicKey_ = v; },
           std::string());
  L.Enum("ConfirmUpgrade", {"cuOnLoaded", "cuByHost"}, [this] { return static_cast<int>(confirmUpgrade_); },
         [this](int v) { confirmUpgrade_ = static_cast<TkvConfirmUpgrade>(v); }, cuOnLoaded);
  L.Integer("ConfirmTimeout", [this] { return confirmTimeout_; },
            [this](int64_t v) { SetConfirmTimeout(v); }, 30);
}

void TkvKelvora::SetAutoCheck(bool Value) {
  if (Value == autoCheck_) return;
  autoCheck_ = Value;
  RearmAutoCheckTimer();
}

void TkvKelvora::SetRestartParams(const std::string& Value) {
  if (Value == restartParams_) return;
  restartParams_ = Value.empty() ? " " : Value;
}

void TkvKelvora::SetVersionDateAutoSet(bool Value) {
  versionDateAutoSet_ = Value;
  if (Value && IsDesigning()) versionDate_ = FormatEngineDate(TodayDate());
}

void TkvKelvora::RearmAutoCheckTimer() {
  if (IsDesigning()) return;
  LoopBackend().KillTimer(this, kAutoCheckTimerId);
  if (autoCheck_ && !autoCheckFired_ && autoCheckDelay_ > 0) {
    if (!LoopBackend().SetTimer(this, kAutoCheckTimerId, static_cast<unsigned>(autoCheckDelay_),
                                [this] { AutoCheckTimer(); }))
      throw EOutOfResources("Not enough timers available");
  }
}

void TkvKelvora::AutoCheckTimer() {
  // A check or an upgrade is under way: the timer keeps its one check for
  // a later period instead of spending it on a call that starts nothing.
  if (InUse()) return;
  try {
    if ((onlineProbe_ ? onlineProbe_() : IsOnline()) && autoCheck_) {
      autoCheckFired_ = true;
      RearmAutoCheckTimer();
      CheckUpdates(false);
      autoCheckRunning_ = true;
    }
  } catch (const std::exception& e) {
    // The application's standard handling: report and carry on.
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void TkvKelvora::SetInfoMode(bool On) {
  infoMode_ = On;
  TkvCacheOptions options = cacheOptions_;
  // No cache in between may answer for the info file: a halted release
  // must reach every client at its next check. Both forms: HTTP/1.0 caches
  // know only the Pragma.
  if (On) {
    options.Include(coPragmaNoCache);
    options.Include(coAlwaysReload);
  }
  SetRequestCacheOptions(options);
}

bool TkvKelvora::CheckUpdates(bool CheckOnly) {
  // One check or upgrade run at a time. A call while one is under way (the
  // timer or a button during a check-only wait, a button during a download
  // or on the completion page) starts nothing and leaves that run alone.
  if (InUse()) return false;
  aborted_ = false;
  autoCheckRunning_ = false;
  updateFound_ = false;
  infoOversized_ = false;
  lastFailure_.clear();
  checkOnly_ = CheckOnly;
  SetInfoMode(true);
  SetURL(infoFileURL_);
  SetOutputFileName("");
  CloseOutputs();
  WatchTransfer();
  if (!Read(false) || !CheckOnly) {
    checkOnly_ = false;
    return false;
  }
  std::weak_ptr<bool> alive = engineAlive_;
  std::shared_ptr<THandle> done = doneSignal_;
  {
    TEngagement engaged(engaged_, alive);
    try {
      WaitForSignal(*done, 0, true);
      if (!alive.expired()) WaitForTransferEnd();
    } catch (...) {
      if (!alive.expired()) checkOnly_ = false;
      throw;
    }
  }
  if (alive.expired()) return false;  // a handler freed the component during the wait
  checkOnly_ = false;
  return updateFound_;
}

void TkvKelvora::WaitForTransferEnd() {
  // The info file has been handled; its transfer ends right after. A check
  // that has returned leaves the component idle, so the next call really
  // checks. A worker that does not end in time is stopped.
  std::weak_ptr<bool> alive = engineAlive_;
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Busy() && !Application().Terminated() && std::chrono::steady_clock::now() < limit) {
    LoopBackend().WaitFor(nullptr, 10, TWakeMask::AnyInput);
    Application().ProcessMessages();
    if (alive.expired()) return;
  }
  if (Busy()) Abort(false, true);
}

bool TkvKelvora::WaitForCompletionPage() {
  UI().ShowWizardCompleted();
  std::shared_ptr<THandle> done = doneSignal_;
  std::weak_ptr<bool> alive = engineAlive_;
  {
    TEngagement engaged(engaged_, alive);
    WaitForSignal(*done, 0, true);
  }
  if (alive.expired() || aborted_) return false;
  // The application quit while the page was open: nobody confirmed the
  // restart, so this is a cancel, not an upgrade.
  if (Application().Terminated()) {
    AbortUpgrade();
    return false;
  }
  return true;
}

bool TkvKelvora::StartedAfterUpgrade() const {
  return Application().ParamCount() >= 1 && Application().ParamStr(1) == restartParams_;
}

}  // namespace kelvora
