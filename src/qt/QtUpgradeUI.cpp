#include "kelvora/qt/kvQtUpgradeUI.h"

#include <QApplication>
#include <QPointer>

#include "qt/MessageBoxes.h"
#include "qt/PasswordForm.h"
#include "qt/UpgradeMessageForm.h"
#include "qt/WizardForm.h"

namespace kelvora {

using qtdetail::TkvKelvoraPasswordForm;
using qtdetail::TkvKelvoraUpgradeMessageForm;
using qtdetail::TkvKelvoraWizardForm;

struct TkvQtUpgradeUI::TState {
  // The open wizard window; cleared the moment it closes.
  QPointer<TkvKelvoraWizardForm> Wizard;
};

TkvQtUpgradeUI::TkvQtUpgradeUI() : state_(std::make_unique<TState>()) {}

TkvQtUpgradeUI::~TkvQtUpgradeUI() { DestroyWizard(); }

bool TkvQtUpgradeUI::AskUpgrade(const std::string& Text) {
  TkvKelvoraUpgradeMessageForm form;
  return form.Ask(Text);
}

bool TkvQtUpgradeUI::AskPassword(const std::string& Text, std::string& Username, std::string& Password) {
  TkvKelvoraPasswordForm form;
  return form.Ask(Text, Username, Password);
}

int TkvQtUpgradeUI::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
  return qtdetail::ShowMessageBox(nullptr, Text, Caption, Flags);
}

void TkvQtUpgradeUI::ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) {
  if (state_->Wizard.isNull()) state_->Wizard = new TkvKelvoraWizardForm;
  TState* state = state_.get();
  TkvKelvoraWizardForm* form = state_->Wizard;
  state_->Wizard->Open(Options, std::move(Hooks), [state, form] {
    if (state->Wizard == form) state->Wizard = nullptr;
  });
}

bool TkvQtUpgradeUI::HasWizard() const { return !state_->Wizard.isNull(); }

void TkvQtUpgradeUI::WizardFile(const std::string& FileURL, const std::string& AllDownloading) {
  if (auto* w = state_->Wizard.data()) w->SetFile(FileURL, AllDownloading);
}

void TkvQtUpgradeUI::WizardFileSize(const std::string& Text) {
  if (auto* w = state_->Wizard.data()) w->SetFileSize(Text);
}

void TkvQtUpgradeUI::WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                    const std::string& TimeLeft) {
  if (auto* w = state_->Wizard.data()) w->SetProgress(PercentsDone, TotalPercentsDone, TransferRate, TimeLeft);
}

void TkvQtUpgradeUI::ShowWizardCompleted() {
  if (auto* w = state_->Wizard.data()) w->ShowCompleted();
}

void TkvQtUpgradeUI::DestroyWizard() {
  TkvKelvoraWizardForm* w = state_->Wizard.data();
  state_->Wizard = nullptr;
  if (w != nullptr) w->Dispose();
}

QWidget* TkvQtUpgradeUI::WizardWindow() const { return state_->Wizard.data(); }

}  // namespace kelvora
