// Unattended runs of the demo (scripts and CI): presses the button once the
// window is up and answers as a willing user would. Before an upgrade it
// answers Yes to the upgrade question and OK on the wizard's completion page;
// after the restart it expects the check to find no update and confirms that
// message. Anything else the component says counts as failure.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <string>

#include "AutopilotRules.h"
#include "DemoOptions.h"

namespace demo {

class TForm1;

class TAutopilot : public QObject {
 public:
  using TGoal = TAutopilotRules::TGoal;
  static constexpr TGoal glUpgrade = TAutopilotRules::glUpgrade;
  static constexpr TGoal glNoUpdate = TAutopilotRules::glNoUpdate;
  TAutopilot(TForm1& Form, const TDemoOptions& Options, TGoal Goal);
  // 0 when the run went as a willing user's would, else 1.
  int ExitCode() const { return rules_.ExitCode(); }

 private:
  void Step();

  TForm1& form_;
  TAutopilotRules rules_;
  QTimer timer_;
};

}  // namespace demo
