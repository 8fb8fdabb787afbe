// The upgrade wizard window: shows what the engine writes into it while the
// listed files download, switches to a completion page, and asks before an
// abort. Controls carry their names as object names.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "kelvora/kvUpgradeUI.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace kelvora::qtdetail {

class TkvKelvoraWizardForm : public QDialog {
 public:
  TkvKelvoraWizardForm();

  // Fills and shows the window (modeless); Gone runs when it has closed.
  void Open(const TkvWizardOptions& Options, TkvWizardHooks Hooks, std::function<void()> Gone);
  void SetFile(const std::string& FileURL, const std::string& AllDownloading);
  void SetFileSize(const std::string& Text);
  void SetProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                   const std::string& TimeLeft);
  void ShowCompleted();
  // The engine's destruction: hides the window without any close handling
  // and frees it now, or when its running handler has returned.
  void Dispose();

  // The close request of the title bar, the Cancel button, Esc and Alt+F4:
  // asks whether to abort and, on Yes, closes and aborts.
  void RequestClose();

 protected:
  void closeEvent(QCloseEvent* E) override;
  void reject() override;

 private:
  // Counts the window's own handlers on the stack, so that it is never
  // freed under one of them.
  class THandlerScope {
   public:
    explicit THandlerScope(TkvKelvoraWizardForm& F) : f_(F) { ++f_.depth_; }
    ~THandlerScope();

   private:
    TkvKelvoraWizardForm& f_;
  };

  void DisposeSoon();
  void CreateControls();
  void PlaceCurrentFileBox(bool HideFileLocation);
  void SizeLabel(QLabel* Label, const std::string& Text);
  void FinishBtnClick();
  void CancelBtnClick();
  // The normal close: hides the window, clears the process-wide reference,
  // signals the engine; returns the hooks so the caller can abort after.
  TkvWizardHooks FormClose();

  QFrame* Panel1 = nullptr;
  QLabel* Image1 = nullptr;
  QWidget* Bevel1 = nullptr;
  QLabel* WizardTitle = nullptr;
  QGroupBox* LCurrentFile = nullptr;
  QGroupBox* LAllFiles = nullptr;
  QLabel* LDownloadingFileFrom = nullptr;
  QLabel* LEstimatedTime = nullptr;
  QLabel* LTransferRate = nullptr;
  QProgressBar* ProgressCurrentFile = nullptr;
  QProgressBar* ProgressAllFiles = nullptr;
  QPushButton* FinishBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  QLabel* AllDownloading = nullptr;
  QLabel* AboutShadow = nullptr;
  QLabel* AboutLabel = nullptr;
  QLineEdit* FileURL = nullptr;
  QLabel* AfterNote = nullptr;
  QLabel* LFileSize = nullptr;

  TkvWizardOptions options_;
  TkvWizardHooks hooks_;
  std::function<void()> gone_;
  bool closed_ = false;
  bool closing_ = false;  // our own close: closeEvent lets it through
  bool asking_ = false;
  bool disposeOnExit_ = false;
  int depth_ = 0;
};

}  // namespace kelvora::qtdetail
