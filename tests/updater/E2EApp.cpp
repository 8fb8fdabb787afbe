// A headless application for the end-to-end upgrade tests. Started plainly it
// checks KV_E2E_INFO_URL as version 01/01/2001, answers every question with
// yes and lets the engine download, start the updater and close it. Started
// again with the restart parameter it writes KV_E2E_MARKER and ends.
// KV_E2E_EVENTS, when set, names a file that gets one line per message box,
// abort, lost connection and restart; KV_E2E_CHECK=0 starts without a check
// (and KV_E2E_HOLD_MS keeps such a start running for a while).
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/kvKelvora.h"

using namespace kelvora;

namespace {

void Note(const std::string& Line) {
  const char* events = std::getenv("KV_E2E_EVENTS");
  if (events == nullptr) return;
  if (std::FILE* f = std::fopen(events, "a")) {
    std::fputs((Line + "\n").c_str(), f);
    std::fclose(f);
  }
}

class RecordingUI : public TkvConsoleUpgradeUI {
 public:
  RecordingUI() : TkvConsoleUpgradeUI(cmAssumeYes, stdin, stdout) {}
  int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override {
    Note("message:" + Text);
    return TkvConsoleUpgradeUI::MessageBox(Text, Caption, Flags);
  }
};

}  // namespace

int main() {
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

  RecordingUI ui;
  SetUpgradeUI(&ui);
  TkvKelvora k(nullptr);
  bool restarted = false;
  k.OnAfterRestart = [&](TObject*) { restarted = true; };
  k.Loaded();
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
  if (const char* check = std::getenv("KV_E2E_CHECK"); check != nullptr && std::string(check) == "0") {
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
  k.OnLostFile = [&](TObject*, const std::string&, int32_t, bool&) { fail("lost file"); };
  k.OnFileStart = [&](TObject*, const std::string& URL, int64_t, const TDateTime&, bool&) { Note("file:" + URL); };
  k.SetInfoFileURL(info);
  k.SetVersionDate("01/01/2001");
  k.CheckUpdates(false);
  Application().Run();
  return failure;
}
