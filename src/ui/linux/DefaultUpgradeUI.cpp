#include "ui/DefaultUpgradeUI.h"

#include "kelvora/ConsoleUpgradeUI.h"

namespace kelvora::detail {

TkvUpgradeUI& DefaultUpgradeUI() {
  static TkvConsoleUpgradeUI* console = new TkvConsoleUpgradeUI();  // lives as long as the process
  return *console;
}

}  // namespace kelvora::detail
