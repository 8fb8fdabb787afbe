// A host program for the C interface's upgrade round: checks KVTEST_INFO_URL
// as version 1.0 and upgrades itself with the real updater, through the C
// interface ("c", its last argument) or the front door ("cpp"); both ask to
// confirm the new release themselves. Every step goes to the file
// KVTEST_NOTES, one line each. The restarted new build notes "waiting";
// through the C interface it confirms once the file KVTEST_GO exists,
// through the front door never (its updater, given 3 s, puts the previous
// release back). The release put back notes "failed:<reason>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "kelvora/Application.h"
#include "kelvora/Updater.h"
#include "kelvora/kelvora.h"
#include "kelvora/kvKelvora.h"

namespace {

void Note(const std::string& Line) {
  if (std::FILE* f = std::fopen(std::getenv("KVTEST_NOTES"), "a")) {
    std::fputs((Line + "\n").c_str(), f);
    std::fclose(f);
  }
}

bool WaitForGo() {
  for (int i = 0; i < 300; ++i) {
    if (std::FILE* f = std::fopen(std::getenv("KVTEST_GO"), "r")) {
      std::fclose(f);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

struct CRun {
  bool restarted = false;
  bool updated = false;
};

void KELVORA_CALL Restarted(const kelvora_result* R, void* User) {
  auto* run = static_cast<CRun*>(User);
  run->restarted = true;
  run->updated = R->outcome == KELVORA_UPDATED;
  Note(std::string("restarted:") + kelvora_outcome_name(R->outcome) + " " + R->offered_version + R->reason);
}

void KELVORA_CALL Finished(const kelvora_result* R, void*) {
  Note(std::string("finished:") + kelvora_outcome_name(R->outcome) + " " + R->reason);
}

int ThroughC(const char* Info) {
  CRun run;
  kelvora_updater* u = kelvora_create();
  kelvora_set_info_address(u, Info);
  kelvora_set_version(u, "1.0");
  kelvora_set_ui(u, KELVORA_UI_NONE);
  kelvora_set_confirm(u, KELVORA_CONFIRM_BY_HOST);
  kelvora_on_restarted(u, Restarted, &run);
  kelvora_on_finished(u, Finished, nullptr);
  if (kelvora_init(u) != KELVORA_OK) {
    Note(std::string("init:") + kelvora_last_error(u));
    return 2;
  }
  if (run.restarted) {
    if (run.updated) {
      Note("waiting");
      if (WaitForGo()) {
        Note("confirm:" + std::to_string(kelvora_confirm_upgrade(u)));
        Note("again:" + std::to_string(kelvora_confirm_upgrade(u)));
      }
    }
    kelvora_free(u);
    return 0;
  }
  kelvora_check_now(u, 0);
  const kelvora_run_result r = kelvora_run(u);
  kelvora_free(u);
  return r == KELVORA_RUN_CLOSE ? 0 : 3;
}

int ThroughFrontDoor(const char* Info) {
  kelvora::Updater updater({.infoAddress = Info, .version = "1.0", .ui = kelvora::UiMode::ConsoleAssumeYes},
                           kelvora::Confirmation::ByHost);
  updater.component().SetConfirmTimeout(3);
  bool restarted = false;
  updater.onRestarted([&](const kelvora::Result& R) {
    restarted = true;
    if (R.outcome == kelvora::Outcome::InstallFailed) {
      Note("failed:" + R.reason);
      return;
    }
    Note("restarted:" + std::string(kelvora::OutcomeName(R.outcome)) + " " + R.offeredVersion);
    Note("waiting");
    // Never confirms: the program "did not really start".
    std::this_thread::sleep_for(std::chrono::seconds(60));
  });
  if (restarted) return 0;
  updater.onFinished([](const kelvora::Result& R) {
    Note("finished:" + std::string(kelvora::OutcomeName(R.outcome)) + " " + R.reason);
    if (R.outcome != kelvora::Outcome::Updated) kelvora::Application().Terminate();
  });
  updater.checkNow();
  kelvora::Application().Run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Never outlives a broken test run.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::seconds(90));
    std::_Exit(4);
  }).detach();
  const char* info = std::getenv("KVTEST_INFO_URL");
  if (info == nullptr || std::getenv("KVTEST_NOTES") == nullptr || argc < 2) return 2;
  const std::string mode = argv[argc - 1];
  Note("start:" + std::string(argc > 2 ? argv[1] : "") + " " + mode);
  return mode == "c" ? ThroughC(info) : ThroughFrontDoor(info);
}
