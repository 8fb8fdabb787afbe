#include "kelvora/ScriptedUpgradeUI.h"

#include "kelvora/LoopBackend.h"

namespace kelvora {

bool TkvScriptedUpgradeUI::AskUpgrade(const std::string& Text) {
  Calls.push_back("AskUpgrade:" + Text);
  if (UpgradeAnswers.empty()) return true;
  bool a = UpgradeAnswers.front();
  UpgradeAnswers.pop_front();
  return a;
}

bool TkvScriptedUpgradeUI::AskPassword(const std::string& Text, std::string& Username, std::string& Password) {
  Calls.push_back("AskPassword:" + Text + "|" + Username);
  if (PasswordAnswers.empty()) return false;
  auto a = PasswordAnswers.front();
  PasswordAnswers.pop_front();
  if (!a) return false;
  Username = a->first;
  Password = a->second;
  return true;
}

int TkvScriptedUpgradeUI::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
  Calls.push_back("MessageBox:" + Caption + "|" + std::to_string(Flags) + "|" + Text);
  if (MessageBoxAnswers.empty()) return (Flags & mbButtonMask) == mbYesNo ? DefaultMessageAnswer : idOK;
  int a = MessageBoxAnswers.front();
  MessageBoxAnswers.pop_front();
  return a;
}

void TkvScriptedUpgradeUI::ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) {
  Calls.push_back("ShowWizard");
  open_ = true;
  options_ = Options;
  hooks_ = std::move(Hooks);
}

void TkvScriptedUpgradeUI::WizardFile(const std::string& FileURL, const std::string& AllDownloading) {
  Calls.push_back("WizardFile:" + FileURL + "|" + AllDownloading);
}

void TkvScriptedUpgradeUI::WizardFileSize(const std::string& Text) { Calls.push_back("WizardFileSize:" + Text); }

void TkvScriptedUpgradeUI::WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                          const std::string& TimeLeft) {
  ++ProgressCalls;
  LastPercentsDone = PercentsDone;
  LastTotalPercentsDone = TotalPercentsDone;
  LastTransferRate = TransferRate;
  LastTimeLeft = TimeLeft;
}

void TkvScriptedUpgradeUI::ShowWizardCompleted() {
  Calls.push_back("ShowWizardCompleted");
  if (PressFinishOnCompletion) LoopBackend().Post([this] { if (open_) CloseWizard(false); });
}

void TkvScriptedUpgradeUI::DestroyWizard() {
  if (!open_) return;
  Calls.push_back("DestroyWizard");
  open_ = false;
  hooks_ = {};
}

void TkvScriptedUpgradeUI::CloseWizard(bool AbortConfirmed) {
  if (!open_) return;
  Calls.push_back(AbortConfirmed ? "WizardClosed:abort" : "WizardClosed");
  open_ = false;
  TkvWizardHooks hooks = std::move(hooks_);
  hooks_ = {};
  if (hooks.Closed) hooks.Closed();
  if (AbortConfirmed && hooks.Abort) hooks.Abort();
}

int TkvScriptedUpgradeUI::Count(const std::string& Prefix) const {
  int n = 0;
  for (const auto& c : Calls)
    if (c.rfind(Prefix, 0) == 0) ++n;
  return n;
}

}  // namespace kelvora
