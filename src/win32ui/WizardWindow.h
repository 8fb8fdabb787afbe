// The upgrade wizard window: shows what the engine writes into it while the
// listed files download, switches to a completion page, and asks before an
// abort. A modeless dialog; its object lives as long as its window.
#pragma once

#include <functional>
#include <string>

#include "kelvora/kvUpgradeUI.h"
#include "win32ui/Dialogs.h"

namespace kelvora::win32ui {

class TWizardWindow {
 public:
  // Creates and shows the window; Gone runs when it closes or is destroyed.
  static TWizardWindow* Open(const TkvWizardOptions& Options, TkvWizardHooks Hooks, std::function<void()> Gone);
  // Fills an open window again (a second ShowWizard).
  void Reopen(const TkvWizardOptions& Options, TkvWizardHooks Hooks, std::function<void()> Gone);

  HWND Window() const { return hwnd_; }
  void SetFile(const std::string& FileURL, const std::string& AllDownloading);
  void SetFileSize(const std::string& Text);
  void SetProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                   const std::string& TimeLeft);
  void ShowCompleted();
  // The engine's destruction: no close handling runs. The window goes now,
  // or once its own handler on the stack has returned.
  void Dispose();

 private:
  TWizardWindow() = default;
  ~TWizardWindow() = default;
  static INT_PTR CALLBACK Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp);
  INT_PTR Handle(UINT M, WPARAM Wp, LPARAM Lp);
  void Create();
  void Fill();
  void Layout();
  void PlaceButtons();
  HWND Item(int Id) const { return ::GetDlgItem(hwnd_, Id); }
  void RequestClose();
  // The normal close: hides the window, signals the engine; returns the
  // hooks so that the caller can abort after.
  TkvWizardHooks FormClose();
  void SetLine(int Id, const std::string& Text);

  HWND hwnd_ = nullptr;
  TFonts fonts_;
  TScale s_;
  TkvWizardOptions options_;
  TkvWizardHooks hooks_;
  std::function<void()> gone_;
  HBRUSH urlBrush_ = nullptr;
  bool completed_ = false;
  bool closed_ = false;
  bool asking_ = false;
  bool disposeOnExit_ = false;
  int depth_ = 0;  // the window's own handlers on the stack
};

}  // namespace kelvora::win32ui
