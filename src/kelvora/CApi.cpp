// The C interface over kelvora::Updater. No exception crosses it: each entry
// point turns one into an error code and a text kept on the handle.
#include "kelvora/kelvora.h"

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "kelvora/Application.h"
#include "kelvora/Updater.h"

struct kelvora_updater {
  kelvora::Options options;
  std::unique_ptr<kelvora::Updater> updater;
  kelvora_finished_fn finished = nullptr;
  void* finishedUser = nullptr;
  kelvora_restarted_fn restarted = nullptr;
  void* restartedUser = nullptr;
  bool running = false;  // inside kelvora_run
  bool closing = false;  // the updater runs: the program must end
  std::string lastError;
};

namespace {

using kelvora::Outcome;
using kelvora::Result;

kelvora_error Fail(kelvora_updater* U, kelvora_error Code, const char* Text) {
  U->lastError = Text;
  return Code;
}

// Runs Body, turning anything it throws into KELVORA_ERROR_FAILED.
template <typename F>
kelvora_error Guard(kelvora_updater* U, F&& Body) {
  if (U == nullptr) return KELVORA_ERROR_ARGUMENT;
  try {
    U->lastError.clear();
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

}  // namespace

extern "C" {

kelvora_updater* KELVORA_CALL kelvora_create(void) { return new (std::nothrow) kelvora_updater(); }

void KELVORA_CALL kelvora_free(kelvora_updater* u) {
  try {
    delete u;
  } catch (...) {
  }
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
  return Guard(u, [&] {
    if (u->updater) return Fail(u, KELVORA_ERROR_STATE, "the updater is already started");
    u->updater = std::make_unique<kelvora::Updater>(u->options);
    u->updater->onFinished([u](const Result& r) {
      if (r.outcome == Outcome::Updated) u->closing = true;
      Report(u->finished, u->finishedUser, r);
      if (u->running) kelvora::Application().Terminate();
    });
    u->updater->onRestarted([u](const Result& r) { Report(u->restarted, u->restartedUser, r); });
    return KELVORA_OK;
  });
}

int KELVORA_CALL kelvora_restarted(const kelvora_updater* u) {
  return u != nullptr && u->updater && u->updater->restarted() ? 1 : 0;
}

kelvora_error KELVORA_CALL kelvora_check_now(kelvora_updater* u, int show_messages) {
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
  return u != nullptr && u->updater && u->updater->checking() ? 1 : 0;
}

kelvora_run_result KELVORA_CALL kelvora_run(kelvora_updater* u) {
  if (u == nullptr) return KELVORA_RUN_DONE;
  kelvora_error e = Guard(u, [&] {
    if (!u->updater || u->closing || !u->updater->checking()) return KELVORA_OK;
    u->running = true;
    kelvora::Application().ClearTerminated();
    kelvora::Application().Run();
    u->running = false;
    if (!u->closing) kelvora::Application().ClearTerminated();
    return KELVORA_OK;
  });
  u->running = false;
  (void)e;
  return u->closing ? KELVORA_RUN_CLOSE : KELVORA_RUN_DONE;
}

kelvora_run_result KELVORA_CALL kelvora_process_messages(kelvora_updater* u) {
  if (u == nullptr) return KELVORA_RUN_DONE;
  Guard(u, [&] {
    if (!u->closing) kelvora::Application().ProcessMessages();
    return KELVORA_OK;
  });
  return u->closing ? KELVORA_RUN_CLOSE : KELVORA_RUN_DONE;
}

const char* KELVORA_CALL kelvora_last_error(const kelvora_updater* u) {
  return u == nullptr ? "no handle" : u->lastError.c_str();
}

const char* KELVORA_CALL kelvora_outcome_name(kelvora_outcome outcome) {
  if (outcome < KELVORA_UP_TO_DATE || outcome > KELVORA_INSTALL_FAILED) return "unknown";
  return kelvora::OutcomeName(static_cast<Outcome>(outcome));
}

}  // extern "C"

static_assert(static_cast<int>(kelvora::Outcome::InstallFailed) == KELVORA_INSTALL_FAILED &&
                  static_cast<int>(kelvora::Outcome::OpenedWebPage) == KELVORA_OPENED_WEB_PAGE &&
                  static_cast<int>(kelvora::Outcome::Updated) == KELVORA_UPDATED,
              "kelvora_outcome follows kelvora::Outcome");
