// The demo's main window: a button that checks for updates, a progress bar
// fed by the component, and the two addresses the upgrade comes from.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "DemoOptions.h"
#include "kelvora/kvKelvora.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace demo {

class TForm1 : public QWidget {
 public:
  explicit TForm1(const TDemoOptions& Options);
  ~TForm1() override;

  kelvora::TkvKelvora* Kelvora() const { return KelvoraPro1; }
  QPushButton* CheckButton() const { return Button1; }
  QProgressBar* Progress() const { return ProgressBar1; }
  // True when the program was started again by the updater.
  bool RestartedAfterUpgrade() const { return restarted_; }

 protected:
  void closeEvent(QCloseEvent* E) override;

 private:
  void Button1Click();
  void KelvoraPro1Aborted();
  void URLLabelClick(QLabel* Label);
  void KelvoraPro1NoUpdateAvailable();
  void KelvoraPro1Progress(uint8_t PercentsDone);

  QLabel* Label1 = nullptr;
  QPushButton* Button1 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* URLLabel1 = nullptr;
  QLabel* URLLabel2 = nullptr;
  // The root of the stored layout; owns KelvoraPro1.
  std::unique_ptr<kelvora::TComponent> form_;
  kelvora::TkvKelvora* KelvoraPro1 = nullptr;
  TDemoOptions options_;
  bool restarted_ = false;
};

}  // namespace demo
