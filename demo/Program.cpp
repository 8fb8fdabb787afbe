// The demo's entry: the application titled "Kelvora demo", the Qt loop and
// windows for the component, and the main window until it closes.
#include <QApplication>

#include <memory>

#include "Autopilot.h"
#include "Main.h"
#include "kelvora/Application.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"

using namespace kelvora;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Application().SetTitle("Kelvora demo");
  QApplication::setApplicationDisplayName("Kelvora demo");

  std::vector<std::string> args;
  for (int i = 1; i < Application().ParamCount() + 1; ++i) args.push_back(Application().ParamStr(i));
  const demo::TDemoOptions options = demo::ReadDemoOptions(args);

  TQtLoopBackend loop;
  SetLoopBackend(&loop);
  TkvQtUpgradeUI ui;
  SetUpgradeUI(&ui);
  int rc = 0;
  {
    demo::TForm1 form(options);
    form.show();
    std::unique_ptr<demo::TAutopilot> pilot;
    if (form.RestartedAfterUpgrade()) {
      // Back after an upgrade: an unattended run checks once more and
      // expects to be up to date.
      demo::Report(options, "restarted after upgrade (release " + form.Kelvora()->VersionDate() + ")");
      if (options.Autopilot) pilot = std::make_unique<demo::TAutopilot>(form, options, demo::TAutopilot::glNoUpdate);
    } else if (options.Autopilot) {
      pilot = std::make_unique<demo::TAutopilot>(form, options, demo::TAutopilot::glUpgrade);
    }
    Application().Run();
    rc = pilot ? pilot->ExitCode() : 0;
  }
  SetUpgradeUI(nullptr);
  SetLoopBackend(nullptr);
  return rc;
}
