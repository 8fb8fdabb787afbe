// A program built for the GUI subsystem (no console of its own) asks in
// windows; a console program on its console.
#include "ui/DefaultUpgradeUI.h"

#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/win32/kvWin32UpgradeUI.h"

#include <windows.h>

namespace kelvora::detail {

namespace {
bool BuiltForGUISubsystem() {
  const auto* base = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}
}  // namespace

TkvUpgradeUI& DefaultUpgradeUI() {
  // Both live as long as the process.
  static TkvUpgradeUI* ui = BuiltForGUISubsystem() ? static_cast<TkvUpgradeUI*>(new TkvWin32UpgradeUI())
                                                   : static_cast<TkvUpgradeUI*>(new TkvConsoleUpgradeUI());
  return *ui;
}

}  // namespace kelvora::detail
