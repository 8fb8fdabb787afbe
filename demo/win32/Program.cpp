// The Windows demo's entry: the application titled "Kelvora demo" and the
// main window until it closes. The loop and the upgrade windows are Core's
// defaults on Windows (a GUI-subsystem program asks in native windows).
#include <memory>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "Win32Autopilot.h"
#include "kelvora/Application.h"

using namespace kelvora;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int Show) {
  Application().SetTitle("Kelvora demo");
  std::vector<std::string> args;
  for (int i = 1; i < Application().ParamCount() + 1; ++i) args.push_back(Application().ParamStr(i));
  const demo::TDemoOptions options = demo::ReadDemoOptions(args);

  int rc = 0;
  {
    demo::TForm1 form(options);
    ::ShowWindow(form.Window(), Show);
    std::unique_ptr<demo::TWin32Autopilot> pilot;
    if (form.RestartedAfterUpgrade()) {
      // Back after an upgrade: an unattended run checks once more and
      // expects to be up to date.
      demo::Report(options, "restarted after upgrade (release " + form.Kelvora()->VersionDate() + ")");
      if (options.Autopilot)
        pilot = std::make_unique<demo::TWin32Autopilot>(form, options, demo::TAutopilotRules::glNoUpdate);
    } else if (options.Autopilot) {
      pilot = std::make_unique<demo::TWin32Autopilot>(form, options, demo::TAutopilotRules::glUpgrade);
    }
    Application().Run();
    rc = pilot ? pilot->ExitCode() : 0;
  }
  return rc;
}
