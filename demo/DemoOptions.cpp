#include "DemoOptions.h"

#include <cstdlib>
#include <fstream>

namespace demo {

namespace {
std::string Env(const char* Name) {
  const char* v = std::getenv(Name);
  return v != nullptr ? v : "";
}
bool StartsWith(const std::string& S, const std::string& Prefix) { return S.rfind(Prefix, 0) == 0; }
}  // namespace

TDemoOptions ReadDemoOptions(const std::vector<std::string>& Args) {
  TDemoOptions o;
  o.InfoURL = Env("KELVORA_DEMO_INFO_URL");
  if (std::string e = Env("KELVORA_DEMO_EXE_URL"); !e.empty()) o.ExeURL = e;
  o.PublicKey = Env("KELVORA_DEMO_PUBLIC_KEY");
  o.Autopilot = Env("KELVORA_DEMO_AUTOPILOT") == "1";
  o.ReportFile = Env("KELVORA_DEMO_REPORT");
  o.Arguments = Args;
  for (const auto& a : Args) {
    if (StartsWith(a, "--info-url=")) o.InfoURL = a.substr(11);
    else if (StartsWith(a, "--exe-url=")) o.ExeURL = a.substr(10);
    else if (StartsWith(a, "--public-key=")) o.PublicKey = a.substr(13);
    else if (a == "--autopilot") o.Autopilot = true;
  }
  return o;
}

std::vector<std::string> ArgumentsToKeep(const std::vector<std::string>& Args, const std::string& RestartParams) {
  const bool marked = !Args.empty() && Args.front() == RestartParams;
  return {Args.begin() + (marked ? 1 : 0), Args.end()};
}

void Report(const TDemoOptions& Options, const std::string& Line) {
  if (Options.ReportFile.empty()) return;
  std::ofstream f(Options.ReportFile, std::ios::app);
  f << Line << '\n';
}

}  // namespace demo
