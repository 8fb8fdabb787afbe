// The front door over TkvKelvora: its events folded into one Result per
// check. The engine's own handlers of the transfer's events stay in place;
// the ones wrapped here only note details (status, address, the offered
// release) before handing on.
#include "kelvora/Updater.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <random>
#include <cstdio>
#include <stdexcept>

#include "framework/DefaultLoop.h"
#include "kelvora/AdminPolicy.h"
#include "kelvora/Application.h"
#include "kelvora/CInterfaceHost.h"
#include "kelvora/CheckSchedule.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/QtPresence.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/kvKelvora.h"
#include "ui/DefaultUpgradeUI.h"

namespace kelvora {

const char* OutcomeName(Outcome Value) {
  switch (Value) {
    case Outcome::UpToDate: return "up to date";
    case Outcome::Updated: return "updated";
    case Outcome::Declined: return "declined";
    case Outcome::Later: return "later";
    case Outcome::Failed: return "failed";
    case Outcome::VerificationRefused: return "refused by verification";
    case Outcome::NoInfoFile: return "no info file";
    case Outcome::ConnectionProblem: return "connection problem";
    case Outcome::OpenedWebPage: return "opened a web page";
    case Outcome::InstallFailed: return "install failed and was undone";
    case Outcome::Cancelled: return "cancelled";
    case Outcome::PackageManaged: return "managed by a package";
    case Outcome::RefusedByPolicy: return "refused by policy";
  }
  return "unknown";
}

namespace {

constexpr unsigned kIntervalTimerId = 1;

std::string ValueAfterKey(const std::string& Release) {
  const size_t eq = Release.find('=');
  return eq == std::string::npos ? Release : Release.substr(eq + 1);
}

void RequireUIThread(const char* What) {
  if (!Application().IsMainThread())
    throw std::logic_error(std::string("kelvora::Updater::") + What + " called from a thread other than the UI thread");
}

constexpr const char* kNoIntegration =
    "a Qt program without kelvora::qt::Integration: Qt's event loop does not run the component and no window "
    "can be shown. Create kelvora::qt::Integration integration(app, &mainWindow) before the kelvora::Updater.";

// A Qt program whose component would run on the plain loop (which Qt's
// exec never serves) or talk through the terminal: the check could only
// hang. Said to the developer once.
bool QtSeamsMissing(const TkvKelvora& Engine) {
  const bool missing =
      (&LoopBackend() == &detail::DefaultLoopBackend() || &Engine.UI() == &detail::DefaultUpgradeUI()) &&
      detail::QtApplicationRunning();
  static std::atomic<bool> told{false};
  if (missing && !told.exchange(true)) {
    DeveloperNote(kNoIntegration);
    std::fprintf(stderr, "kelvora: %s\n", kNoIntegration);
  }
  return missing;
}

}  // namespace

struct Updater::TState {
  Options options;
  std::unique_ptr<TkvConsoleUpgradeUI> console;
  std::unique_ptr<TkvKelvora> engine;
  std::function<void(const Result&)> finished;
  std::function<void(const Result&)> restartedCall;
  bool restarted = false;
  bool restartedReported = false;
  std::string installFailure;  // set when this run is the release put back after a failed upgrade
  // The check under way: its result so far, and whether it still has to be
  // reported.
  bool pending = false;
  Result current;
  bool qtCheck = true;      // a C++ host: a Qt program without its integration is told so
  bool cancelling = false;  // cancel() or the destructor is ending the check
  bool refused = false;     // a verification refusal came before the abort
  bool lostFile = false;    // a listed file was missing and not skipped
  bool redirect = false;    // the info file offered a web page
  bool infoRead = false;    // the engine has read this check's info file

  void Finish(Outcome Value) {
    if (!pending) return;
    pending = false;
    Result r = std::move(current);
    r.outcome = Value;
    if (infoRead && engine && engine->ReleaseInfo() != nullptr) {
      const TReleaseInfo& release = *engine->ReleaseInfo();
      r.offeredVersion = engine->VersionControl() == byNumber ? release.Version : release.Date;
    }
    current = Result{};
    if (finished) finished(r);
  }
  void Start(bool UserStarted);
  void Cancel();
  void Wire();

  // The interval's checks: each after the interval and a random share of it
  // (CheckSchedule.h), none before a busy server's Retry-After has passed.
  std::mt19937_64 random{std::random_device{}()};
  std::chrono::steady_clock::time_point notBefore{};
  // The period the administrator's policy sets, else the options'.
  std::chrono::milliseconds Interval() const {
    if (const auto& seconds = engine->AdminPolicy().CheckIntervalSeconds) return std::chrono::seconds(*seconds);
    return options.checkInterval;
  }
  void ArmInterval(const void* Owner, std::chrono::milliseconds Wait);
  void IntervalTick(const void* Owner);
  void HoldOff();
};

void Updater::TState::ArmInterval(const void* Owner, std::chrono::milliseconds Wait) {
  const auto ms = std::max<int64_t>(1, Wait.count());
  // Replaces the timer that is firing, if any: the loop calls a copy.
  LoopBackend().SetTimer(Owner, kIntervalTimerId, ms > 0x7FFFFFFF ? 0x7FFFFFFFu : static_cast<unsigned>(ms),
                         [this, Owner] { IntervalTick(Owner); });
}

void Updater::TState::IntervalTick(const void* Owner) {
  // The last check read the policy again: its interval may have changed.
  const auto interval = Interval();
  if (interval.count() <= 0) {
    LoopBackend().KillTimer(Owner, kIntervalTimerId);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now < notBefore) {
    ArmInterval(Owner, std::chrono::ceil<std::chrono::milliseconds>(notBefore - now) +
                           (NextCheckDelay(interval, random()) - interval));
    return;
  }
  ArmInterval(Owner, NextCheckDelay(interval, random()));
  // The last check's transfer still closing: this tick starts nothing
  // rather than a check that fails as busy.
  if (!engine->Busy()) Start(false);
}

void Updater::TState::HoldOff() {
  const std::time_t now = std::time(nullptr);
  const std::optional<int64_t> seconds =
      RetryAfterSeconds(engine->RawHeaders(), UtcToLocal(static_cast<double>(now) / 86400.0 + 25569.0));
  if (!seconds) return;
  // A server cannot stop the checks for good: a day at most.
  const auto wait = std::chrono::seconds(std::min<int64_t>(*seconds, 86400));
  notBefore = std::max(notBefore, std::chrono::steady_clock::now() + wait);
}

void Updater::TState::Wire() {
  TkvKelvora& k = *engine;
  k.OnNoUpdateAvailable = [this](TObject*) { Finish(Outcome::UpToDate); };
  k.OnLaterUpgrade = [this](TObject*) {
    if (engine->DeferredOnMetered()) current.reason = "the connection is metered: the download waits for another one";
    Finish(Outcome::Later);
  };
  k.OnConnLost = [this](TObject*) {
    current.address = engine->URL();
    Finish(Outcome::ConnectionProblem);
  };
  k.OnHostUnreachable = [this](TObject*, const std::string& URL, const std::string& Host) {
    current.address = URL;
    current.reason = "cannot reach " + Host;
    Finish(Outcome::ConnectionProblem);
  };
  k.OnNoInfoFile = [this](TObject*) {
    current.address = engine->AdminPolicy().InfoAddress.value_or(engine->InfoFileURL());
    Finish(Outcome::NoInfoFile);
  };
  k.OnVerificationFailed = [this](TObject*, const std::string& Reason) {
    refused = true;
    current.reason = Reason;
  };
  k.OnLostFile = [this](TObject*, const std::string& URL, int32_t Code, bool&) {
    lostFile = true;
    current.address = URL;
    current.statusCode = Code;
    current.reason = "the server did not give " + URL + (Code > 0 ? " (status " + std::to_string(Code) + ")" : "");
  };
  k.OnBeginUpgrade = [this](TObject*, const std::string&, TztUpgradeMethod Method, TkvStringList&, bool&) {
    redirect = Method == umRedirectToURL;
  };
  k.OnAborted = [this](TObject*) {
    if (cancelling) {
      Finish(Outcome::Cancelled);
    } else if (refused) {
      Finish(Outcome::VerificationRefused);
    } else if (!engine->LastFailure().empty()) {
      current.reason = engine->LastFailure();
      Finish(engine->OwnedByPackage().empty() ? Outcome::Failed : Outcome::PackageManaged);
    } else {
      Finish(lostFile ? Outcome::Failed : Outcome::Declined);
    }
  };
  // Only once the updater runs: the program closes for its restart.
  k.OnDoOwnCloseAppMethod = [this](TObject*) {
    current.patchSavedBytes = engine->PatchSavedBytes();
    Finish(Outcome::Updated);
    CloseApplication();
  };
  k.OnAfterRestart = [this](TObject*) { restarted = true; };
  k.OnPolicyRefused = [this](TObject*, const std::string& Reason) {
    current.reason = Reason;
    Finish(Outcome::RefusedByPolicy);
  };
  k.OnUpgradeFailed = [this](TObject*, const std::string& Reason) {
    installFailure = Reason.empty() ? "the upgrade failed" : Reason;
  };

  // The transfer's details, then the engine's own handling.
  k.OnHTTPError = [this, inner = std::move(k.OnHTTPError)](TObject* Sender, int32_t Code, TStream* Data) {
    current.statusCode = Code;
    current.address = engine->URL();
    if (engine->InfoMode() && (Code == 429 || Code == 503)) HoldOff();
    if (inner) inner(Sender, Code, Data);
  };
  k.OnDone = [this, inner = std::move(k.OnDone)](TObject* Sender, const std::string& Type, int64_t Size,
                                                TStream* Data) {
    const bool info = engine->InfoMode();
    // The engine reads the file; the result names the release it offers.
    if (info && Data != nullptr && Data->Size() <= TkvKelvora::kMaxInfoFileSize) infoRead = true;
    if (inner) inner(Sender, Type, Size, Data);
    // A web page offered and opened ends the check without an event of its own.
    if (info && pending && redirect && engine && engine->InfoMode()) Finish(Outcome::OpenedWebPage);
  };
}

void Updater::TState::Start(bool UserStarted) {
  if (pending) return;
  pending = true;
  current = Result{};
  current.userStarted = UserStarted;
  refused = lostFile = redirect = infoRead = false;
  const Messages shown = options.messages | (UserStarted ? options.userCheckMessages : Messages::None);
  engine->SetShowMessages(static_cast<TkvKelvoraShowMessages>(static_cast<unsigned>(shown)));
  // A transfer of the component's own under way (started through
  // component()) would make the check start nothing: said so, not left
  // hanging.
  if (engine->Busy()) {
    current.address = engine->InfoFileURL();
    current.reason = "the component is busy with another transfer";
    Finish(Outcome::Failed);
    return;
  }
  if (qtCheck && options.ui == UiMode::Installed && QtSeamsMissing(*engine)) {
    current.address = engine->InfoFileURL();
    current.reason = kNoIntegration;
    Finish(Outcome::Failed);
    return;
  }
  engine->SetRequestedCheckIgnoresRollout(UserStarted && options.checkNowIgnoresRollout);
  engine->CheckUpdates(false, !UserStarted);
}

void Updater::TState::Cancel() {
  if (!pending || cancelling) return;
  cancelling = true;
  // Stops the transfer, closes the wizard, removes the run's files and ends
  // the check through OnAborted; a check the engine no longer drives (or a
  // handler that swallowed the event) still ends here, once.
  engine->AbortUpgrade();
  Finish(Outcome::Cancelled);
  cancelling = false;
}

Updater::Updater(Options Value) : Updater(std::move(Value), Confirmation::AtStart) {}

Updater::Updater(Options Value, Confirmation Confirm) : state_(std::make_unique<TState>()) {
  TState& s = *state_;
  s.options = std::move(Value);
  s.qtCheck = !detail::TCInterfaceHost::Active();
  if (s.options.infoAddress.empty()) throw std::invalid_argument("kelvora::Updater: no info address");
  if (s.options.version.empty() && s.options.releaseDate.empty())
    throw std::invalid_argument("kelvora::Updater: neither a version nor a release date, nothing to compare with");
  if (s.options.ui != UiMode::Installed)
    s.console = std::make_unique<TkvConsoleUpgradeUI>(s.options.ui == UiMode::ConsoleAssumeYes
                                                           ? TkvConsoleUpgradeUI::cmAssumeYes
                                                           : TkvConsoleUpgradeUI::cmAsk);
  s.engine = std::make_unique<TkvKelvora>(nullptr);
  TkvKelvora& k = *s.engine;
  if (s.console) k.SetUI(s.console.get());
  k.SetInfoFileURL(s.options.infoAddress);
  if (!s.options.version.empty()) {
    k.SetVersionControl(byNumber);
    k.SetVersionNumber(s.options.version);
  } else {
    k.SetVersionControl(byDate);
    k.SetVersionDateAutoSet(false);
    k.SetVersionDate(s.options.releaseDate);
  }
  k.SetPublicKey(s.options.publicKeys);
  if (!s.options.restartParameter.empty()) k.SetRestartParams(s.options.restartParameter);
  if (s.options.keepArguments) k.SetRestartArguments(arguments());
  if (Confirm == Confirmation::ByHost) k.SetConfirmUpgrade(cuByHost);
  k.SetPolicyCompany(s.options.company);
  k.SetPolicyProduct(s.options.product);
  s.Wire();
  k.Loaded();
  k.RefreshAdminPolicy();
  if (s.Interval().count() > 0) s.ArmInterval(this, NextCheckDelay(s.Interval(), s.random()));
}

Updater::~Updater() {
  LoopBackend().KillTimer(this, kIntervalTimerId);
  try {
    state_->Cancel();
  } catch (...) {
    // A host's onFinished that throws cannot stop the destruction.
  }
  state_->engine.reset();
}

void Updater::onFinished(std::function<void(const Result&)> Call) { state_->finished = std::move(Call); }

void Updater::onRestarted(std::function<void(const Result&)> Call) {
  TState& s = *state_;
  s.restartedCall = std::move(Call);
  if ((!s.restarted && s.installFailure.empty()) || s.restartedReported || !s.restartedCall) return;
  s.restartedReported = true;
  Result r;
  r.outcome = Outcome::Updated;
  r.address = s.options.infoAddress;
  if (!s.installFailure.empty()) {
    r.outcome = Outcome::InstallFailed;
    r.reason = s.installFailure;
    s.restartedCall(r);
    return;
  }
  if (const auto record = ReadReleaseRecord(ReleaseRecordPath()); record && record->InfoURL == s.options.infoAddress)
    r.offeredVersion = ValueAfterKey(record->Release);
  s.restartedCall(r);
}

void Updater::checkNow() {
  RequireUIThread("checkNow");
  state_->Start(true);
}

void Updater::checkQuietly() {
  RequireUIThread("checkQuietly");
  state_->Start(false);
}

void Updater::cancel() {
  RequireUIThread("cancel");
  state_->Cancel();
}

bool Updater::confirmUpgrade() {
  RequireUIThread("confirmUpgrade");
  return state_->engine->ConfirmUpgradeNow();
}

bool Updater::checking() const { return state_->pending; }

bool Updater::restarted() const { return state_->restarted; }

std::vector<std::string> Updater::arguments() const {
  std::vector<std::string> args;
  const int count = Application().ParamCount();
  const std::string restart = state_->engine ? state_->engine->RestartParams() : std::string("/afterupgrade");
  for (int i = 1; i <= count; ++i) {
    if (i == 1 && Application().ParamStr(1) == restart) continue;
    args.push_back(Application().ParamStr(i));
  }
  return args;
}

TkvKelvora& Updater::component() { return *state_->engine; }

}  // namespace kelvora
