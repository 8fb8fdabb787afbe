// A headless application for the end-to-end upgrade tests. Started plainly it
// checks KV_E2E_INFO_URL as version 01/01/2001, answers every question with
// yes and lets the engine download, start the updater and close it. Started
// again with the restart parameter it writes KV_E2E_MARKER and ends.
// KV_E2E_EVENTS, when set, names a file that gets one line per message box,
// abort, lost connection and restart; KV_E2E_CHECK=0 starts without a check
// (and KV_E2E_HOLD_MS keeps such a start running for a while).
// Every start notes "start:<build>" (old or new: the new build carries bytes
// of its own at its end). Started with the restart parameter, KV_E2E_AFTER
// makes it fail: "crash" (abort before Loaded), "exit" (status 0 before
// Loaded), "hang" (Loaded, but never confirms), "late" (ignores SIGTERM and
// confirms once it arrives, noting "confirm:<true|false>"), "launch" (starts
// itself again with the restart parameter, to confirm, and ends with status
// 0), "spawn" (starts KV_E2E_CHILD holding, in a session of its own, and ends
// with status 0). KV_E2E_CONFIRM_S sets ConfirmTimeout. A start told of a
// failed upgrade notes "failed:<reason>" and ends without a check, unless
// KV_E2E_EVERY_START=1: then it checks at every start, as a headless host may
// (at most 12 starts a test, the bound of a loop). Developer notes are noted
// "dev:<line>", a put-off release "later". KV_E2E_FILL=<file> fills that
// file's disk at KV_E2E_FILL_AT: "end" (OnEndUpgrade) or "close" (the updater
// runs, the application closes).
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/kvKelvora.h"
#include "platform/Resources.h"

using namespace kelvora;

extern char** environ;

namespace {

volatile sig_atomic_t gTerm = 0;

// Starts Argv with this environment, less KV_E2E_AFTER, plus Extra.
bool Spawn(const std::vector<std::string>& Argv, const std::string& Extra, bool OwnSession) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "KV_E2E_AFTER=", 13) != 0) env.emplace_back(*e);
  if (!Extra.empty()) env.push_back(Extra);
  std::vector<char*> argv, envp;
  for (const auto& a : Argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (OwnSession) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  return rc == 0;
}

void Note(const std::string& Line) {
  const char* events = std::getenv("KV_E2E_EVENTS");
  if (events == nullptr) return;
  if (std::FILE* f = std::fopen(events, "a")) {
    std::fputs((Line + "\n").c_str(), f);
    std::fclose(f);
  }
}

size_t StartsNoted() {
  const char* events = std::getenv("KV_E2E_EVENTS");
  size_t n = 0;
  if (std::FILE* f = events != nullptr ? std::fopen(events, "r") : nullptr) {
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) n += std::strncmp(line, "start:", 6) == 0;
    std::fclose(f);
  }
  return n;
}

// Another program takes every free byte of the disk File lies on.
void FillDisk(const char* File) {
  std::FILE* f = std::fopen(File, "wb");
  if (f == nullptr) return;
  std::setvbuf(f, nullptr, _IONBF, 0);
  static char block[4096];
  while (std::fwrite(block, 1, sizeof block, f) == sizeof block) {
  }
  std::fclose(f);
  Note("filled");
}

bool FillAt(const char* When) {
  const char* at = std::getenv("KV_E2E_FILL_AT");
  return std::getenv("KV_E2E_FILL") != nullptr && at != nullptr && std::strcmp(at, When) == 0;
}

class RecordingUI : public TkvConsoleUpgradeUI {
 public:
  RecordingUI() : TkvConsoleUpgradeUI(cmAssumeYes, stdin, stdout) {}
  int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
    Note("message:" + Text);
    return TkvConsoleUpgradeUI::MessageBox(Text, Caption, Flags);
  }
  bool AskUpgrade(const std::string& Text) override {
    Note("asked");
    return TkvConsoleUpgradeUI::AskUpgrade(Text);
  }
};

}  // namespace

int main() {
  // The tests' copy of the updater, with its fault hooks, is the one handed over.
  static std::string updater;
  if (std::FILE* f = std::fopen(KV_UPDATER_EXE, "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) updater.append(buf, n);
    std::fclose(f);
  }
  if (updater.empty()) return 2;
  platform::RegisterResource("KVLOR", "KVLOR", updater.data(), updater.size());
  const char* marker = std::getenv("KV_E2E_MARKER");
  const char* info = std::getenv("KV_E2E_INFO_URL");
  if (marker == nullptr || info == nullptr) {
    std::fprintf(stderr, "KV_E2E_MARKER and KV_E2E_INFO_URL must be set\n");
    return 2;
  }
  // Never outlives a broken test run.
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    std::_Exit(4);
  }).detach();

  std::string self;
  {
    std::FILE* f = std::fopen("/proc/self/exe", "rb");
    const std::string tail = "\nnew build\n";
    char buf[16] = {};
    if (f != nullptr && std::fseek(f, -static_cast<long>(tail.size()), SEEK_END) == 0 &&
        std::fread(buf, 1, tail.size(), f) == tail.size())
      self = std::string(buf, tail.size()) == tail ? "new" : "old";
    if (f != nullptr) std::fclose(f);
  }
  const std::string param = Application().ParamCount() >= 1 ? Application().ParamStr(1) : "";
  Note("start:" + self + (param.empty() ? "" : " " + param));
  const char* afterEnv = std::getenv("KV_E2E_AFTER");
  const std::string after = afterEnv != nullptr && self == "new" && param == "/afterupgrade" ? afterEnv : "";

  SetDeveloperLog([](const std::string& Line) { Note("dev:" + Line); });
  RecordingUI ui;
  SetUpgradeUI(&ui);
  TkvKelvora k(nullptr);
  bool restarted = false, failed = false;
  k.OnAfterRestart = [&](TObject*) { restarted = true; };
  k.OnUpgradeFailed = [&](TObject*, const std::string& Reason) {
    failed = true;
    Note("failed:" + Reason);
  };
  if (const char* s = std::getenv("KV_E2E_CONFIRM_S")) k.SetConfirmTimeout(std::atoi(s));
  if (after == "crash") std::abort();
  if (after == "exit") return 0;
  if (after == "launch") return Spawn({"/proc/self/exe", param}, "", false) ? 0 : 6;
  if (after == "spawn") {
    const char* child = std::getenv("KV_E2E_CHILD");
    return child != nullptr && Spawn({child}, "KV_PROBE_HOLD=1", true) ? 0 : 6;
  }
  if (after == "late") {
    std::signal(SIGTERM, [](int) { gTerm = 1; });
    k.SetConfirmUpgrade(cuByHost);
    k.Loaded();
    for (int i = 0; i < 3000 && gTerm == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Note(std::string("confirm:") + (k.ConfirmUpgradeNow() ? "true" : "false"));
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  if (after == "hang") k.SetConfirmUpgrade(cuByHost);
  k.Loaded();
  if (after == "hang") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  const char* every = std::getenv("KV_E2E_EVERY_START");
  const bool everyStart = every != nullptr && std::string(every) == "1";
  if (failed && !everyStart) return 0;
  if (restarted) {
    Note("restarted");
    struct stat st {};
    const std::string text = "restarted:" + Application().ParamStr(1) + "\nupdater:" +
                             (::stat(UpdaterPath().c_str(), &st) == 0 ? "present" : "gone") + "\n";
    const std::string tmp = std::string(marker) + ".tmp";
    if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
      std::rename(tmp.c_str(), marker);
    }
    return 0;
  }
  if (const char* check = std::getenv("KV_E2E_CHECK");
      (check != nullptr && std::string(check) == "0") || (everyStart && StartsNoted() > 12)) {
    Note("started");
    if (const char* hold = std::getenv("KV_E2E_HOLD_MS"))
      std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(hold)));
    return 0;
  }

  int failure = 0;
  auto fail = [&](const char* Why) {
    std::fprintf(stderr, "upgrade failed: %s\n", Why);
    Note(Why);
    failure = 5;
    Application().Terminate();
  };
  k.OnNoUpdateAvailable = [&](TObject*) { fail("no update"); };
  k.OnNoInfoFile = [&](TObject*) { fail("no info file"); };
  k.OnAborted = [&](TObject*) { fail("aborted"); };
  k.OnConnLost = [&](TObject*) { fail("connection lost"); };
  k.OnHostUnreachable = [&](TObject*, const std::string&, const std::string&) { fail("host unreachable"); };
  // (The console's answer decides whether the run goes on without the file.)
  k.OnLostFile = [&](TObject*, const std::string&, int32_t, bool&) { Note("lost file"); };
  k.OnLaterUpgrade = [&](TObject*) {
    Note("later");
    Application().Terminate();
  };
  if (FillAt("end")) k.OnEndUpgrade = [](TObject*, bool&) { FillDisk(std::getenv("KV_E2E_FILL")); };
  if (FillAt("close"))
    k.OnDoOwnCloseAppMethod = [](TObject*) {
      FillDisk(std::getenv("KV_E2E_FILL"));
      CloseApplication();
    };
  k.OnFileStart = [&](TObject*, const std::string& URL, int64_t, const TDateTime&, bool&) { Note("file:" + URL); };
  k.SetInfoFileURL(info);
  k.SetVersionDate("01/01/2001");
  k.CheckUpdates(false);
  Application().Run();
  return failure;
}
