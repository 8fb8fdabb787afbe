#include <atomic>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/kvUtils.h"

namespace kelvora {

namespace {
std::atomic<TkvUpgradeUI*> gUI{nullptr};
}

TkvUpgradeUI& UpgradeUI() {
  if (TkvUpgradeUI* ui = gUI.load()) return *ui;
  static TkvConsoleUpgradeUI* console = new TkvConsoleUpgradeUI();  // lives as long as the process
  return *console;
}

void SetUpgradeUI(TkvUpgradeUI* UI) { gUI.store(UI); }

std::string ProgramTitle() {
  const std::string& title = Application().Title();
  if (title.find_first_not_of(" \t") != std::string::npos) return title;
  const std::string& exe = CurrentExeName();
  return exe.substr(exe.rfind('/') + 1);
}

}  // namespace kelvora
