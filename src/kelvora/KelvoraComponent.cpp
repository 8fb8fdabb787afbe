// The upgrade component: defaults, stored properties, start-up, the
// automatic-check timer and CheckUpdates.
#include <unistd.h>

#include <cstdio>

#include "kelvora/Application.h"
#include "kelvora/Properties.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

TkvKelvora::TkvKelvora(TComponent* AOwner) : TkvCustomHTTP(AOwner) {
  // Every download stays hidden while it waits for its replacement.
  OutputFileAttributes().SetIncomplete({atrHidden, atrTemporary});
  OutputFileAttributes().SetComplete({atrArchive, atrHidden, atrTemporary});

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
  ReportRecoveredUpgrade();
  if (OnAfterRestart && Application().ParamCount() >= 1 && Application().ParamStr(1) == restartParams_)
    OnAfterRestart(this);
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
  if (On) options.Include(coPragmaNoCache);
  SetRequestCacheOptions(options);
}

bool TkvKelvora::CheckUpdates(bool CheckOnly) {
  if (CheckOnly) checkOnly_ = true;
  aborted_ = false;
  autoCheckRunning_ = false;
  updateFound_ = false;
  infoOversized_ = false;
  std::weak_ptr<bool> alive = engineAlive_;
  try {
    bool started = false;
    if (!Busy()) {
      SetInfoMode(true);
      SetURL(infoFileURL_);
      SetOutputFileName("");
      started = Read(false);
    }
    // Only a check this call started can be waited for: a transfer that was
    // already running may be a download whose end signals nothing.
    if (CheckOnly && started) {
      std::shared_ptr<THandle> done = doneSignal_;
      WaitForSignal(*done, 0, true);
    }
  } catch (...) {
    if (!alive.expired()) checkOnly_ = false;
    throw;
  }
  if (alive.expired()) return false;  // a handler freed the component during the wait
  checkOnly_ = false;
  return updateFound_;
}

}  // namespace kelvora
