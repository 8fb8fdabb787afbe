// What the demo takes from its command line and environment, so that a
// script can point it at a local server and run it unattended.
#pragma once

#include <string>
#include <vector>

namespace demo {

struct TDemoOptions {
  // --info-url=URL or KELVORA_DEMO_INFO_URL: the info file to check.
  std::string InfoURL;
  // --exe-url=URL or KELVORA_DEMO_EXE_URL: the address of the newer build shown.
  std::string ExeURL = "http://www.example.com/kelvora/demo/kelvora-demo";
  // --public-key=KEY or KELVORA_DEMO_PUBLIC_KEY: accept only info files signed
  // with this key (the component's PublicKey).
  std::string PublicKey;
  // --autopilot or KELVORA_DEMO_AUTOPILOT=1: press the button at start and
  // answer every question as a willing user would.
  bool Autopilot = false;
  // KELVORA_DEMO_REPORT: a file the demo appends what happened to.
  std::string ReportFile;
  // The command line as given (without the program), so the restart after
  // an upgrade gets it again.
  std::vector<std::string> Arguments;
};

// Options from Args (argv without the program) over the environment.
TDemoOptions ReadDemoOptions(const std::vector<std::string>& Args);
// What the program passes on to its restart: Args without a leading
// RestartParams (the marker of the restart before).
std::vector<std::string> ArgumentsToKeep(const std::vector<std::string>& Args, const std::string& RestartParams);
// Appends Line to the report file, when there is one.
void Report(const TDemoOptions& Options, const std::string& Line);

}  // namespace demo
