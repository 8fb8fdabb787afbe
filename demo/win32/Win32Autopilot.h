// Unattended runs of the Windows demo: presses the button once the window
// is up and answers the component's windows as a willing user would, by
// the messages a click sends (see AutopilotRules.h for what it expects).
#pragma once

#include "AutopilotRules.h"
#include "MainWindow.h"

namespace demo {

class TWin32Autopilot {
 public:
  TWin32Autopilot(TForm1& Form, const TDemoOptions& Options, TAutopilotRules::TGoal Goal);
  ~TWin32Autopilot();
  int ExitCode() const { return rules_.ExitCode(); }

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
  void Step();

  TForm1& form_;
  TAutopilotRules rules_;
  UINT_PTR timer_ = 0;
  bool closing_ = false;
};

}  // namespace demo
