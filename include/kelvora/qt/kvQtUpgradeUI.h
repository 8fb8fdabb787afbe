// The upgrade-UI as Qt Widgets: the wizard window, the ask-upgrade and
// password dialogs, and the engine's message boxes.
//
// Create it on the UI thread after the QApplication; install it with
// SetUpgradeUI(&ui) or give it to one component with SetUI(&ui).
#pragma once

#include "kelvora/kelvora_qt_export.h"

#include <memory>
#include <string>

#include "kelvora/kvUpgradeUI.h"

class QWidget;

namespace kelvora {

class KELVORA_QT_EXPORT TkvQtUpgradeUI : public TkvUpgradeUI {
 public:
  TkvQtUpgradeUI();
  ~TkvQtUpgradeUI() override;
  TkvQtUpgradeUI(const TkvQtUpgradeUI&) = delete;
  TkvQtUpgradeUI& operator=(const TkvQtUpgradeUI&) = delete;

  bool AskUpgrade(const std::string& Text) override;
  bool AskPassword(const std::string& Text, std::string& Username, std::string& Password) override;
  int MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) override;

  void ShowWizard(const TkvWizardOptions& Options, TkvWizardHooks Hooks) override;
  bool HasWizard() const override;
  void WizardFile(const std::string& FileURL, const std::string& AllDownloading) override;
  void WizardFileSize(const std::string& Text) override;
  void WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                      const std::string& TimeLeft) override;
  void ShowWizardCompleted() override;
  void DestroyWizard() override;

  // The open wizard window, or null (for hosts that place it, and tests).
  QWidget* WizardWindow() const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace kelvora
