// The upgrade component: defaults, stored properties, start-up, the
// automatic-check timer and CheckUpdates.
#include <chrono>
#include <cstdio>

#include "kelvora/AdminPolicy.h"
#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/Engagement.h"
#include "kelvora/Properties.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

TkvKelvora::TkvKelvora(TComponent* AOwner) : TkvCustomHTTP(AOwner), d_(std::make_unique<TData>()) {
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
  d_->versionDate_ = FormatEngineDate(TodayDate());
  d_->wizard_.SetLanguage(wlAuto);
}

TkvKelvora::~TkvKelvora() {
  Destroying();
  *d_->engineAlive_ = false;
  d_->autoCheck_ = false;
  LoopBackend().KillTimer(this, kAutoCheckTimerId);
  if (UI().HasWizard()) UI().DestroyWizard();
}

void TkvKelvora::Loaded() {
  TkvCustomHTTP::Loaded();
  ResolveUpgradeAtLoad();
  ReportFailedUpgrade();
  std::weak_ptr<bool> alive = d_->engineAlive_;
  if (OnAfterRestart && StartedAfterUpgrade()) OnAfterRestart(this);
  // The release has started and its host's handler has returned.
  if (!alive.expired() && d_->confirmUpgrade_ == cuOnLoaded) ConfirmUpgradeNow();
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
  L.Boolean("AutoCheck", [this] { return d_->autoCheck_; }, [this](bool v) { SetAutoCheck(v); }, false);
  L.Integer("AutoCheckDelay", [this] { return d_->autoCheckDelay_; },
            [this](int64_t v) { d_->autoCheckDelay_ = static_cast<int32_t>(v); }, 10000);
  L.Set("CacheOptions", coNames, [this] { return static_cast<uint32_t>(d_->cacheOptions_.ToBits()); },
        [this](uint32_t v) { d_->cacheOptions_ = TkvCacheOptions::FromBits(static_cast<uint8_t>(v)); },
        TkvCacheOptions{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache}.ToBits());
  L.Object("InfoFile", d_->info_);
  L.String("InfoFileURL", [this] { return d_->infoFileURL_; }, [this](const std::string& v) { d_->infoFileURL_ = v; },
           std::nullopt);
  L.String("RestartParams", [this] { return d_->restartParams_; }, [this](const std::string& v) { SetRestartParams(v); },
           std::string("/afterupgrade"));
  L.Enum("MiscFilesUpgrade", {"mfuAlwaysDownload", "mfuOnlyIfSizeDifferent"},
         [this] { return static_cast<int>(d_->miscFilesUpgrade_); },
         [this](int v) { d_->miscFilesUpgrade_ = static_cast<TztMiscFilesUpgradeBehavior>(v); }, mfuAlwaysDownload);
  L.Enum("VersionControl", {"byDate", "byNumber"}, [this] { return static_cast<int>(d_->versionControl_); },
         [this](int v) { d_->versionControl_ = static_cast<TkvKelvoraVersionControl>(v); }, byDate);
  L.String("VersionDate", [this] { return d_->versionDate_; }, [this](const std::string& v) { d_->versionDate_ = v; },
           std::nullopt);
  L.Boolean("VersionDateAutoSet", [this] { return d_->versionDateAutoSet_; },
            [this](bool v) { SetVersionDateAutoSet(v); }, std::nullopt);
  L.String("VersionNumber", [this] { return d_->versionNumber_; }, [this](const std::string& v) { d_->versionNumber_ = v; },
           std::string());
  L.Set("ShowMessages",
        {"mAskUpgrade", "mConnLost", "mHostUnreachable", "mLostFile", "mNoInfoFile", "mNoUpdateAvailable",
         "mPasswordRequest"},
        [this] { return static_cast<uint32_t>(d_->showMessages_); },
        [this](uint32_t v) { d_->showMessages_ = static_cast<TkvKelvoraShowMessages>(v); }, kDefaultShowMessages);
  L.Object("Wizard", d_->wizard_);
  L.String("PublicKey", [this] { return d_->publicKey_; }, [this](const std::string& v) { d_->publicKey_ = v; },
           std::string());
  L.Boolean("DownloadOnMetered", [this] { return d_->downloadOnMetered_; },
            [this](bool v) { d_->downloadOnMetered_ = v; }, false);
  L.Enum("ConfirmUpgrade", {"cuOnLoaded", "cuByHost"}, [this] { return static_cast<int>(d_->confirmUpgrade_); },
         [this](int v) { d_->confirmUpgrade_ = static_cast<TkvConfirmUpgrade>(v); }, cuOnLoaded);
  L.Integer("ConfirmTimeout", [this] { return d_->confirmTimeout_; },
            [this](int64_t v) { SetConfirmTimeout(v); }, 30);
}

void TkvKelvora::SetAutoCheck(bool Value) {
  if (Value == d_->autoCheck_) return;
  d_->autoCheck_ = Value;
  RearmAutoCheckTimer();
}

void TkvKelvora::SetRestartParams(const std::string& Value) {
  if (Value == d_->restartParams_) return;
  d_->restartParams_ = Value.empty() ? " " : Value;
}

void TkvKelvora::SetVersionDateAutoSet(bool Value) {
  d_->versionDateAutoSet_ = Value;
  if (Value && IsDesigning()) d_->versionDate_ = FormatEngineDate(TodayDate());
}

void TkvKelvora::RearmAutoCheckTimer() {
  if (IsDesigning()) return;
  LoopBackend().KillTimer(this, kAutoCheckTimerId);
  if (d_->autoCheck_ && !d_->autoCheckFired_ && d_->autoCheckDelay_ > 0) {
    if (!LoopBackend().SetTimer(this, kAutoCheckTimerId, static_cast<unsigned>(d_->autoCheckDelay_),
                                [this] { AutoCheckTimer(); }))
      throw EOutOfResources("Not enough timers available");
  }
}

void TkvKelvora::AutoCheckTimer() {
  // A check or an upgrade is under way: the timer keeps its one check for
  // a later period instead of spending it on a call that starts nothing.
  if (InUse()) return;
  try {
    if ((d_->onlineProbe_ ? d_->onlineProbe_() : IsOnline()) && d_->autoCheck_) {
      d_->autoCheckFired_ = true;
      RearmAutoCheckTimer();
      CheckUpdates(false, true);
      d_->autoCheckRunning_ = true;
    }
  } catch (const std::exception& e) {
    // The application's standard handling: report and carry on.
    std::fprintf(stderr, "%s\n", e.what());
  }
}

void TkvKelvora::SetInfoMode(bool On) {
  d_->infoMode_ = On;
  TkvCacheOptions options = d_->cacheOptions_;
  // No cache in between may answer for the info file: a halted release
  // must reach every client at its next check. Both forms: HTTP/1.0 caches
  // know only the Pragma.
  if (On) {
    options.Include(coPragmaNoCache);
    options.Include(coAlwaysReload);
  }
  SetRequestCacheOptions(options);
}

bool TkvKelvora::CheckUpdates(bool CheckOnly) { return CheckUpdates(CheckOnly, false); }

bool TkvKelvora::CheckUpdates(bool CheckOnly, bool Automatic) {
  // One check or upgrade run at a time. A call while one is under way (the
  // timer or a button during a check-only wait, a button during a download
  // or on the completion page) starts nothing and leaves that run alone.
  if (InUse()) return false;
  // Before anything touches the network.
  if (RefusedByPolicy(Automatic, CheckOnly)) return false;
  d_->automaticCheck_ = Automatic;
  d_->deferredOnMetered_ = false;
  d_->aborted_ = false;
  d_->autoCheckRunning_ = false;
  d_->updateFound_ = false;
  d_->infoOversized_ = false;
  d_->lastFailure_.clear();
  d_->checkOnly_ = CheckOnly;
  SetInfoMode(true);
  SetURL(d_->policy_->InfoAddress.value_or(d_->infoFileURL_));
  SetOutputFileName("");
  CloseOutputs();
  WatchTransfer();
  if (!Read(false) || !CheckOnly) {
    d_->checkOnly_ = false;
    return false;
  }
  std::weak_ptr<bool> alive = d_->engineAlive_;
  std::shared_ptr<THandle> done = d_->doneSignal_;
  {
    TEngagement engaged(d_->engaged_, alive);
    try {
      WaitForSignal(*done, 0, true);
      if (!alive.expired()) WaitForTransferEnd();
    } catch (...) {
      if (!alive.expired()) d_->checkOnly_ = false;
      throw;
    }
  }
  if (alive.expired()) return false;  // a handler freed the component during the wait
  d_->checkOnly_ = false;
  return d_->updateFound_;
}

void TkvKelvora::WaitForTransferEnd() {
  // The info file has been handled; its transfer ends right after. A check
  // that has returned leaves the component idle, so the next call really
  // checks. A worker that does not end in time is stopped.
  std::weak_ptr<bool> alive = d_->engineAlive_;
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
  std::shared_ptr<THandle> done = d_->doneSignal_;
  std::weak_ptr<bool> alive = d_->engineAlive_;
  {
    TEngagement engaged(d_->engaged_, alive);
    WaitForSignal(*done, 0, true);
  }
  if (alive.expired() || d_->aborted_) return false;
  // The application quit while the page was open: nobody confirmed the
  // restart, so this is a cancel, not an upgrade.
  if (Application().Terminated()) {
    AbortUpgrade();
    return false;
  }
  return true;
}

bool TkvKelvora::StartedAfterUpgrade() const {
  return Application().ParamCount() >= 1 && Application().ParamStr(1) == d_->restartParams_;
}

}  // namespace kelvora
