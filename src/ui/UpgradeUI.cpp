#include <atomic>

#include "kelvora/ConsoleUpgradeUI.h"

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

}  // namespace kelvora
