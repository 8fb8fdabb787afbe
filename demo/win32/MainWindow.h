// The demo's main window in the plain Windows API: a button that checks for
// updates, a progress bar fed by the component, and the two addresses the
// upgrade comes from.
#pragma once

#include "kelvora/kvKelvora.h"

#include <windows.h>
#undef MessageBox

#include <memory>
#include <string>

#include "DemoOptions.h"

namespace demo {

class TForm1 {
 public:
  explicit TForm1(const TDemoOptions& Options);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Window() const { return hwnd_; }
  kelvora::TkvKelvora* Kelvora() const { return KelvoraPro1; }
  void ClickCheckButton();
  // True when the program was started again by the updater.
  bool RestartedAfterUpgrade() const { return restarted_; }
  void Close();

 private:
  static LRESULT CALLBACK Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp);
  LRESULT Handle(HWND W, UINT M, WPARAM Wp, LPARAM Lp);
  void Layout();
  void Button1Click();
  void KelvoraPro1Aborted();
  void KelvoraPro1NoUpdateAvailable();
  void KelvoraPro1Progress(uint8_t PercentsDone);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr, urlFont_ = nullptr;
  std::unique_ptr<kelvora::TComponent> form_;  // the stored layout's root; owns KelvoraPro1
  kelvora::TkvKelvora* KelvoraPro1 = nullptr;
  TDemoOptions options_;
  bool restarted_ = false;
};

}  // namespace demo
