// The C interface over kelvora::Updater. No exception crosses it: each entry
// point turns one into an error code and a text kept on the handle. Every
// entry point but kelvora_stop works only on the main thread, where the
// loop, the component and the callbacks live.
#include "kelvora/kelvora.h"

#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "kelvora/Application.h"
#include "kelvora/CInterfaceHost.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Updater.h"

struct kelvora_updater {
  kelvora::Options options;
  kelvora::Confirmation confirm = kelvora::Confirmation::AtStart;
  std::unique_ptr<kelvora::Updater> updater;
  kelvora_finished_fn finished = nullptr;
  void* finishedUser = nullptr;
  kelvora_restarted_fn restarted = nullptr;
  void* restartedUser = nullptr;
  bool running = false;  // inside kelvora_run
  bool closing = false;  // the updater runs: the program must end
  // Entry points under way that may run a callback; a kelvora_free from a
  // callback waits until the outermost of them returns.
  int depth = 0;
  bool freeing = false;
  std::atomic<bool> stopRequested{false};  // kelvora_stop, from any thread
  std::string lastError;
};

namespace {

using kelvora::Outcome;
using kelvora::Result;

constexpr const char* kWrongThread =
    "a kelvora_* function was called from a thread other than the main one; nothing was done";

bool OnMainThread() { return kelvora::Application().IsMainThread(); }

kelvora_error Fail(kelvora_updater* U, kelvora_error Code, const char* Text) {
  U->lastError = Text;
  return Code;
}

void Destroy(kelvora_updater* U) {
  try {
    U->updater.reset();
  } catch (...) {
  }
  delete U;
}

// An entry point that may run the host's callbacks. The outermost one
// carries out, as its very last step, a kelvora_free that a callback asked
// for: by then no frame of the library uses the handle any more.
class TEntry {
 public:
  explicit TEntry(kelvora_updater* U) : u_(U) { ++u_->depth; }
  ~TEntry() {
    if (--u_->depth > 0 || !u_->freeing) return;
    // Held above zero while the handle goes: a call from the on_finished
    // that the end of a check reports here is a nested one.
    ++u_->depth;
    Destroy(u_);
  }
  TEntry(const TEntry&) = delete;
  TEntry& operator=(const TEntry&) = delete;

 private:
  kelvora_updater* u_;
};

// Runs Body on the main thread, turning anything it throws into
// KELVORA_ERROR_FAILED. From another thread nothing of the handle is
// touched, its error text included.
template <typename F>
kelvora_error Guard(kelvora_updater* U, F&& Body) {
  if (U == nullptr) return KELVORA_ERROR_ARGUMENT;
  if (!OnMainThread()) return KELVORA_ERROR_THREAD;
  try {
    U->lastError.clear();
    if (U->freeing) return Fail(U, KELVORA_ERROR_STATE, "kelvora_free was called on this handle");
    return Body();
  } catch (const std::exception& e) {
    U->lastError = e.what();
  } catch (...) {
    U->lastError = "unknown error";
  }
  return KELVORA_ERROR_FAILED;
}

// A setter of a text option: before kelvora_init only.
kelvora_error SetText(kelvora_updater* U, const char* Value, std::string kelvora::Options::*Field) {
  return Guard(U, [&] {
    if (Value == nullptr) return Fail(U, KELVORA_ERROR_ARGUMENT, "a null string");
    if (U->updater) return Fail(U, KELVORA_ERROR_STATE, "the updater is already started");
    U->options.*Field = Value;
    return KELVORA_OK;
  });
}

void Report(kelvora_finished_fn Call, void* User, const Result& R) {
  if (Call == nullptr) return;
  const kelvora_result r{static_cast<kelvora_outcome>(R.outcome), R.userStarted ? 1 : 0, R.offeredVersion.c_str(),
                         R.reason.c_str(), R.address.c_str(), R.statusCode};
  Call(&r, User);
}

// kelvora_run and kelvora_process_messages: refused where they cannot run.
bool MayServeLoop(kelvora_updater* U) {
  if (U == nullptr || !OnMainThread()) return false;
  if (U->depth == 0) return true;
  U->lastError = "kelvora_run and kelvora_process_messages cannot run inside a callback";
  return false;
}

}  // namespace

extern "C" {

kelvora_updater* KELVORA_CALL kelvora_create(void) { return new (std::nothrow) kelvora_updater(); }

void KELVORA_CALL kelvora_free(kelvora_updater* u) {
  if (u == nullptr) return;
  if (!OnMainThread()) {
    // Freed under the main thread's feet would be worse than kept.
    kelvora::DeveloperNote("kelvora_free called from a thread other than the main one: the handle was not freed");
    return;
  }
  if (u->freeing) return;
  u->freeing = true;
  if (u->depth > 0) {
    // Inside a callback: the handle goes when the library call that ran it
    // returns; nothing more is reported, and a kelvora_run under way ends.
    u->finished = nullptr;
    u->restarted = nullptr;
    if (u->running) kelvora::Application().Terminate();
    return;
  }
  // A check under way ends with its on_finished (KELVORA_CANCELLED) here.
  TEntry entry(u);
}

kelvora_error KELVORA_CALL kelvora_set_info_address(kelvora_updater* u, const char* address) {
  return SetText(u, address, &kelvora::Options::infoAddress);
}
kelvora_error KELVORA_CALL kelvora_set_version(kelvora_updater* u, const char* version) {
  return SetText(u, version, &kelvora::Options::version);
}
kelvora_error KELVORA_CALL kelvora_set_release_date(kelvora_updater* u, const char* date) {
  return SetText(u, date, &kelvora::Options::releaseDate);
}
kelvora_error KELVORA_CALL kelvora_set_public_keys(kelvora_updater* u, const char* keys) {
  return SetText(u, keys, &kelvora::Options::publicKeys);
}
kelvora_error KELVORA_CALL kelvora_set_restart_parameter(kelvora_updater* u, const char* parameter) {
  return SetText(u, parameter, &kelvora::Options::restartParameter);
}

kelvora_error KELVORA_CALL kelvora_set_policy_names(kelvora_updater* u, const char* company, const char* product) {
  const kelvora_error rc = SetText(u, company, &kelvora::Options::company);
  return rc != KELVORA_OK ? rc : SetText(u, product, &kelvora::Options::product);
}

kelvora_error KELVORA_CALL kelvora_set_ui(kelvora_updater* u, kelvora_ui ui) {
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    kelvora::Options& o = u->options;
    o.messages = kelvora::Messages::Default;
    o.userCheckMessages = kelvora::Messages::UserCheck;
    switch (ui) {
      case KELVORA_UI_INSTALLED: o.ui = kelvora::UiMode::Installed; break;
      case KELVORA_UI_CONSOLE: o.ui = kelvora::UiMode::Console; break;
      case KELVORA_UI_CONSOLE_ASSUME_YES: o.ui = kelvora::UiMode::ConsoleAssumeYes; break;
      case KELVORA_UI_NONE:
        o.ui = kelvora::UiMode::ConsoleAssumeYes;
        o.messages = o.userCheckMessages = kelvora::Messages::None;
        break;
      default: return Fail(u, KELVORA_ERROR_ARGUMENT, "no such UI mode");
    }
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_set_check_interval(kelvora_updater* u, unsigned int milliseconds) {
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    u->options.checkInterval = std::chrono::milliseconds(milliseconds);
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_set_confirm(kelvora_updater* u, kelvora_confirm confirm) {
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    switch (confirm) {
      case KELVORA_CONFIRM_AT_START: u->confirm = kelvora::Confirmation::AtStart; break;
      case KELVORA_CONFIRM_BY_HOST: u->confirm = kelvora::Confirmation::ByHost; break;
      default: return Fail(u, KELVORA_ERROR_ARGUMENT, "no such confirmation mode");
    }
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_on_finished(kelvora_updater* u, kelvora_finished_fn call, void* user) {
  return Guard(u, [&] {
    u->finished = call;
    u->finishedUser = user;
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_on_restarted(kelvora_updater* u, kelvora_restarted_fn call, void* user) {
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    u->restarted = call;
    u->restartedUser = user;
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_init(kelvora_updater* u) {
  if (u == nullptr || !OnMainThread()) return Guard(u, [] { return KELVORA_OK; });
  TEntry entry(u);
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    {
      kelvora::detail::TCInterfaceHost host;
      u->updater = std::make_unique<kelvora::Updater>(u->options, u->confirm);
    }
    u->updater->onFinished([u](const Result& r) {
      if (r.outcome == Outcome::Updated) u->closing = true;
      Report(u->finished, u->finishedUser, r);
      // With an interval the run goes on to the next check.
      if (u->running && (u->closing || u->freeing || u->options.checkInterval.count() == 0))
        kelvora::Application().Terminate();
    });
    u->updater->onRestarted([u](const Result& r) { Report(u->restarted, u->restartedUser, r); });
    return KELVORA_OK;
  });
}

int KELVORA_CALL kelvora_restarted(const kelvora_updater* u) {
  return u != nullptr && OnMainThread() && u->updater && u->updater->restarted() ? 1 : 0;
}

kelvora_error KELVORA_CALL kelvora_confirm_upgrade(kelvora_updater* u) {
  return Guard(u, [&] {
    if (!u->updater) return Fail(u, KELVORA_ERROR_STATE, "kelvora_init has not been called");
    if (!u->updater->confirmUpgrade())
      return Fail(u, KELVORA_ERROR_STATE, "no install waits for a confirmation in this run");
    return KELVORA_OK;
  });
}

kelvora_error KELVORA_CALL kelvora_check_now(kelvora_updater* u, int show_messages) {
  if (u == nullptr || !OnMainThread()) return Guard(u, [] { return KELVORA_OK; });
  TEntry entry(u);
  return Guard(u, [&] {
    if (!u->updater) return Fail(u, KELVORA_ERROR_STATE, "kelvora_init has not been called");
    if (show_messages != 0)
      u->updater->checkNow();
    else
      u->updater->checkQuietly();
    return KELVORA_OK;
  });
}

int KELVORA_CALL kelvora_checking(const kelvora_updater* u) {
  return u != nullptr && OnMainThread() && u->updater && u->updater->checking() ? 1 : 0;
}

kelvora_error KELVORA_CALL kelvora_cancel(kelvora_updater* u) {
  if (u == nullptr || !OnMainThread()) return Guard(u, [] { return KELVORA_OK; });
  TEntry entry(u);
  return Guard(u, [&] {
    if (!u->updater) return Fail(u, KELVORA_ERROR_STATE, "kelvora_init has not been called");
    u->updater->cancel();
    return KELVORA_OK;
  });
}

kelvora_run_result KELVORA_CALL kelvora_run(kelvora_updater* u) {
  if (!MayServeLoop(u)) return KELVORA_RUN_REFUSED;
  TEntry entry(u);
  Guard(u, [&] {
    const bool interval = u->options.checkInterval.count() > 0;
    if (!u->updater || u->closing || (!interval && !u->updater->checking())) {
      u->stopRequested = false;
      return KELVORA_OK;
    }
    u->running = true;
    kelvora::Application().ClearTerminated();
    // A kelvora_stop that came before the loop ends this run at once; one
    // that comes during it terminates the loop (set first, then
    // Terminate, so that one of the two is always seen).
    if (!u->stopRequested.load()) kelvora::Application().Run();
    u->running = false;
    u->stopRequested = false;
    if (!u->closing) kelvora::Application().ClearTerminated();
    return KELVORA_OK;
  });
  u->running = false;
  return u->closing ? KELVORA_RUN_CLOSE : KELVORA_RUN_DONE;
}

kelvora_error KELVORA_CALL kelvora_stop(kelvora_updater* u) {
  if (u == nullptr) return KELVORA_ERROR_ARGUMENT;
  u->stopRequested = true;
  kelvora::Application().Terminate();
  return KELVORA_OK;
}

kelvora_run_result KELVORA_CALL kelvora_process_messages(kelvora_updater* u) {
  if (!MayServeLoop(u)) return KELVORA_RUN_REFUSED;
  TEntry entry(u);
  Guard(u, [&] {
    if (!u->closing) kelvora::Application().ProcessMessages();
    return KELVORA_OK;
  });
  return u->closing ? KELVORA_RUN_CLOSE : KELVORA_RUN_DONE;
}

const char* KELVORA_CALL kelvora_last_error(const kelvora_updater* u) {
  if (u == nullptr) return "no handle";
  return OnMainThread() ? u->lastError.c_str() : kWrongThread;
}

const char* KELVORA_CALL kelvora_outcome_name(kelvora_outcome outcome) {
  if (outcome < KELVORA_UP_TO_DATE || outcome > KELVORA_REFUSED_BY_POLICY) return "unknown";
  return kelvora::OutcomeName(static_cast<Outcome>(outcome));
}

}  // extern "C"

static_assert(static_cast<int>(kelvora::Outcome::InstallFailed) == KELVORA_INSTALL_FAILED &&
                  static_cast<int>(kelvora::Outcome::OpenedWebPage) == KELVORA_OPENED_WEB_PAGE &&
                  static_cast<int>(kelvora::Outcome::Updated) == KELVORA_UPDATED &&
                  static_cast<int>(kelvora::Outcome::Cancelled) == KELVORA_CANCELLED &&
                  static_cast<int>(kelvora::Outcome::PackageManaged) == KELVORA_PACKAGE_MANAGED &&
                  static_cast<int>(kelvora::Outcome::RefusedByPolicy) == KELVORA_REFUSED_BY_POLICY,
              "kelvora_outcome follows kelvora::Outcome");
