#include "kelvora/win32/kvWin32UpgradeUI.h"

#include <memory>

#include "win32ui/Dialogs.h"
#include "win32ui/FittedMessageBox.h"
#include "win32ui/QuestionDialogs.h"
#include "win32ui/WizardWindow.h"

namespace kelvora {

using win32ui::TWizardWindow;

struct TkvWin32UpgradeUI::TState {
  // The open wizard window; cleared the moment it closes.
  TWizardWindow* Wizard = nullptr;
};

TkvWin32UpgradeUI::TkvWin32UpgradeUI() : state_(std::make_unique<TState>()) { win32ui::InitControls(); }

TkvWin32UpgradeUI::~TkvWin32UpgradeUI() { DestroyWizard(); }

bool TkvWin32UpgradeUI::AskUpgrade(const std::string& Text) { return win32ui::AskUpgradeDialog(Text); }

bool TkvWin32UpgradeUI::AskPassword(const std::string& Text, std::string& Username, std::string& Password) {
  return win32ui::AskPasswordDialog(Text, Username, Password);
}

int TkvWin32UpgradeUI::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
  // The engine's flags are the system's own; a system-modal box stays above
  // every window.
  UINT type = Flags;
  if ((Flags & mbSystemModal) != 0) type |= MB_TOPMOST;
  HWND owner = (Flags & mbSystemModal) != 0 ? nullptr : win32ui::ActiveOwner();
  return win32ui::FittedMessageBox(owner, win32ui::WinText(Text), win32ui::WinText(Caption), type);
}

void TkvWin32UpgradeUI::ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) {
  TState* state = state_.get();
  if (TWizardWindow* open = state->Wizard) {
    open->Reopen(Options, std::move(Hooks), [state, open] {
      if (state->Wizard == open) state->Wizard = nullptr;
    });
    return;
  }
  // The window's object exists before its handlers run: the gone call
  // names it through a cell filled right after.
  auto cell = std::make_shared<TWizardWindow*>(nullptr);
  TWizardWindow* w = TWizardWindow::Open(Options, std::move(Hooks), [state, cell] {
    if (state->Wizard == *cell) state->Wizard = nullptr;
  });
  *cell = w;
  state->Wizard = w;
}

bool TkvWin32UpgradeUI::HasWizard() const { return state_->Wizard != nullptr; }

void TkvWin32UpgradeUI::WizardFile(const std::string& FileURL, const std::string& AllDownloading) {
  if (auto* w = state_->Wizard) w->SetFile(FileURL, AllDownloading);
}

void TkvWin32UpgradeUI::WizardFileSize(const std::string& Text) {
  if (auto* w = state_->Wizard) w->SetFileSize(Text);
}

void TkvWin32UpgradeUI::WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                       const std::string& TimeLeft) {
  if (auto* w = state_->Wizard) w->SetProgress(PercentsDone, TotalPercentsDone, TransferRate, TimeLeft);
}

void TkvWin32UpgradeUI::ShowWizardCompleted() {
  if (auto* w = state_->Wizard) w->ShowCompleted();
}

void TkvWin32UpgradeUI::DestroyWizard() {
  TWizardWindow* w = state_->Wizard;
  state_->Wizard = nullptr;
  if (w != nullptr) w->Dispose();
}

void* TkvWin32UpgradeUI::WizardWindow() const { return state_->Wizard != nullptr ? state_->Wizard->Window() : nullptr; }

}  // namespace kelvora
