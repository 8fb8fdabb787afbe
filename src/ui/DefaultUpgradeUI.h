// The upgrade-UI a program gets when its host installs none (linux/ and
// win32/ DefaultUpgradeUI.cpp): the console one, or on Windows the native
// windows for a program built for the GUI subsystem.
#pragma once

#include "kelvora/kvUpgradeUI.h"

namespace kelvora::detail {

TkvUpgradeUI& DefaultUpgradeUI();

}  // namespace kelvora::detail
