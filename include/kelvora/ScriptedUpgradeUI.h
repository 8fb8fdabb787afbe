// An upgrade-UI for tests: answers are queued by the test, every call is
// recorded in order.
#pragma once

#include "kelvora/kelvora_export.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kelvora/kvUpgradeUI.h"

namespace kelvora {

class KELVORA_EXPORT TkvScriptedUpgradeUI : public TkvUpgradeUI {
 public:
  // One line per call, for example "AskUpgrade:<text>",
  // "MessageBox:<caption>|<flags>|<text>", "ShowWizard", "WizardFile:<url>|<count text>",
  // "WizardFileSize:<text>", "ShowWizardCompleted", "DestroyWizard", "WizardClosed".
  // Progress updates are counted instead (they come once per block).
  std::vector<std::string> Calls;
  int ProgressCalls = 0;
  std::string LastTransferRate, LastTimeLeft;
  int LastPercentsDone = 0, LastTotalPercentsDone = 0;

  // Answers, used front first; when a queue is empty the default applies.
  std::deque<bool> UpgradeAnswers;       // default: Yes
  std::deque<int> MessageBoxAnswers;     // default: DefaultMessageAnswer
  int DefaultMessageAnswer = idYes;
  // A login to enter, or nothing for Cancel. Default: Cancel.
  std::deque<std::optional<std::pair<std::string, std::string>>> PasswordAnswers;

  // When the completion page is shown, press its button (close the window)
  // from a posted call, as a user would after it appeared.
  bool PressFinishOnCompletion = true;

  bool AskUpgrade(const std::string& Text) override;
  bool AskPassword(const std::string& Text, std::string& Username, std::string& Password) override;
  int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override;
  void ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) override;
  bool HasWizard() const override { return open_; }
  void WizardFile(const std::string& FileURL, const std::string& AllDownloading) override;
  void WizardFileSize(const std::string& Text) override;
  void WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                      const std::string& TimeLeft) override;
  void ShowWizardCompleted() override;
  void DestroyWizard() override;

  // The user closes the wizard window; with Confirmed the close question
  // was answered Yes, which aborts the run.
  void CloseWizard(bool AbortConfirmed);
  const TkvWizardOptions& WizardOptions() const { return options_; }
  // How many calls start with Prefix.
  int Count(const std::string& Prefix) const;

 private:
  bool open_ = false;
  TkvWizardOptions options_;
  TkvWizardHooks hooks_;
};

}  // namespace kelvora
