// What an unattended run of the demo expects, whatever the windowing
// toolkit: an upgrade before the restart, "no update" after it; anything
// else the component reports is a failure. The toolkit's side (Autopilot.h,
// win32/Win32Autopilot.h) presses the buttons.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "DemoOptions.h"
#include "kelvora/kvKelvora.h"

namespace demo {

class TAutopilotRules {
 public:
  enum TGoal { glUpgrade, glNoUpdate };
  // Hooks the component's events. CloseLater ends the run once the
  // component's handler has returned.
  TAutopilotRules(kelvora::TkvKelvora& Kelvora, const TDemoOptions& Options, TGoal Goal,
                  std::function<void()> CloseLater);

  TGoal Goal() const { return goal_; }
  bool NoUpdateSeen() const { return noUpdateSeen_; }
  bool PastDeadline() const { return std::chrono::steady_clock::now() > deadline_; }
  // 0 when the run went as a willing user's would, else 1.
  int ExitCode() const { return failed_ ? 1 : 0; }
  void Fail(const std::string& Why);
  void Report(const std::string& Line) const;

 private:
  TDemoOptions options_;
  TGoal goal_;
  std::function<void()> closeLater_;
  std::chrono::steady_clock::time_point deadline_;
  bool noUpdateSeen_ = false;
  bool failed_ = false;
};

}  // namespace demo
