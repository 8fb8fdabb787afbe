// A headless application for the end-to-end upgrade test. Started plainly it
// checks KV_E2E_INFO_URL as version 01/01/2001, answers every question with
// yes and lets the engine download, start the updater and close it. Started
// again with the restart parameter it writes KV_E2E_MARKER and ends.
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

  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, stdin, stdout);
  SetUpgradeUI(&ui);
  TkvKelvora k(nullptr);
  bool restarted = false;
  k.OnAfterRestart = [&](TObject*) { restarted = true; };
  k.Loaded();
  if (restarted) {
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

  int failure = 0;
  auto fail = [&](const char* Why) {
    std::fprintf(stderr, "upgrade failed: %s\n", Why);
    failure = 5;
    Application().Terminate();
  };
  k.OnNoUpdateAvailable = [&](TObject*) { fail("no update"); };
  k.OnNoInfoFile = [&](TObject*) { fail("no info file"); };
  k.OnAborted = [&](TObject*) { fail("aborted"); };
  k.OnConnLost = [&](TObject*) { fail("connection lost"); };
  k.OnHostUnreachable = [&](TObject*, const std::string&, const std::string&) { fail("host unreachable"); };
  k.OnLostFile = [&](TObject*, const std::string&, int32_t, bool&) { fail("lost file"); };
  k.SetInfoFileURL(info);
  k.SetVersionDate("01/01/2001");
  k.CheckUpdates(false);
  Application().Run();
  return failure;
}
