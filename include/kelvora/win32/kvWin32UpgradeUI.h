// The upgrade-UI as native Windows windows: the wizard window, the
// ask-upgrade and password dialogs, and the engine's message boxes, written
// against the plain Windows API and its common controls. It is the default
// upgrade UI of a Windows program built for the GUI subsystem; a console
// program gets the console UI unless it installs this one.
//
// Create and use it on the UI thread. The program should carry the manifest
// in src/win32ui/manifest (common controls 6, per-monitor DPI awareness 2):
// without it the windows still work, in the old look and scaled by the system.
#pragma once

#include "kelvora/kelvora_export.h"

#include <memory>
#include <string>

#include "kelvora/kvUpgradeUI.h"

namespace kelvora {

// Window class names and control ids, for hosts that place the windows and
// for tests that drive them.
namespace win32ui {
inline constexpr wchar_t kWizardClass[] = L"TkvKelvoraWizardForm";
inline constexpr wchar_t kUpgradeMessageClass[] = L"TkvKelvoraUpgradeMessageForm";
inline constexpr wchar_t kPasswordClass[] = L"TkvKelvoraPasswordForm";
enum : int {
  // Buttons answer with their own ids.
  idYesBtn = 6,      // IDYES
  idLaterBtn = 2,    // IDCANCEL
  idOKBtn = 1,       // IDOK
  idCancelBtn = 2,   // IDCANCEL
  idFinishBtn = 100,
  idUsernameEdit = 101,
  idPasswordEdit = 102,
  idLabel1 = 103,
  idUsernameLab = 104,
  idPasswordLab = 105,
  idImage = 106,
  idWizardTitle = 110,
  idAfterNote = 111,
  idLCurrentFile = 112,
  idLAllFiles = 113,
  idLDownloadingFileFrom = 114,
  idFileURL = 115,
  idLFileSize = 116,
  idLTransferRate = 117,
  idLEstimatedTime = 118,
  idProgressCurrentFile = 119,
  idProgressAllFiles = 120,
  idAllDownloading = 121,
  idBevel1 = 122,
  idAboutLabel = 123,
};
}  // namespace win32ui

class KELVORA_EXPORT TkvWin32UpgradeUI : public TkvUpgradeUI {
 public:
  TkvWin32UpgradeUI();
  ~TkvWin32UpgradeUI() override;
  TkvWin32UpgradeUI(const TkvWin32UpgradeUI&) = delete;
  TkvWin32UpgradeUI& operator=(const TkvWin32UpgradeUI&) = delete;

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

  // The open wizard window (an HWND), or null.
  void* WizardWindow() const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace kelvora
