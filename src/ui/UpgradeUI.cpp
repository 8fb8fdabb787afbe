#include <atomic>

#include "kelvora/Application.h"
#include "kelvora/kvUtils.h"
#include "ui/DefaultUpgradeUI.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

namespace {
std::atomic<TkvUpgradeUI*> gUI{nullptr};
}

TkvUpgradeUI& UpgradeUI() {
  if (TkvUpgradeUI* ui = gUI.load()) return *ui;
  return detail::DefaultUpgradeUI();
}

void SetUpgradeUI(TkvUpgradeUI* UI) { gUI.store(UI); }

std::string ProgramTitle() {
  const std::string& title = Application().Title();
  if (title.find_first_not_of(" \t") != std::string::npos) return title;
  const std::string& exe = CurrentExeName();
  size_t start = exe.size();
  while (start > 0 && !updater::IsPathSeparator(exe[start - 1])) --start;
  return exe.substr(start);
}

}  // namespace kelvora
