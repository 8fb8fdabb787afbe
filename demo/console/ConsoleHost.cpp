// kelvora-console: a console program that keeps itself up to date.
//
//   kelvora-console [--yes] <info file address>
//   kelvora-console --help | --version
//
// checks the info file, asks (or, with --yes, assumes the answer), downloads
// the newer build and ends; the updater puts the new build in place and
// starts it again with "/afterupgrade", which reports the build it is and
// ends. Every line it prints is also appended to "<program>.log" beside it:
// the restarted program has no console to print on.
#include <kelvora/Application.h>
#include <kelvora/ConsoleUpgradeUI.h>
#include <kelvora/LoopBackend.h>
#include <kelvora/Streams.h>
#include <kelvora/kvKelvora.h>
#include <kelvora/kvUtils.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifndef KV_CONSOLE_VERSION
#define KV_CONSOLE_VERSION "1.0.0"
#endif

namespace {

using namespace kelvora;

constexpr const char* kVersion = KV_CONSOLE_VERSION;

const char kUsage[] =
    "usage: kelvora-console [--yes] <info file address>\n"
    "\n"
    "Checks the info file for a newer build of this program, asks whether to\n"
    "install it, downloads it and ends; the updater puts the new build in place\n"
    "and starts it again. Every line printed is also appended to\n"
    "<program>.log beside the program.\n"
    "\n"
    "  --yes      answer every question with yes\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "\n"
    "Exit codes: 0 up to date, downloaded or declined, 2 wrong command line,\n"
    "3 no info file, 4 connection lost or host unreachable, 5 upgrade stopped,\n"
    "6 the check ended otherwise.\n";

void Report(const std::string& Text) {
  const std::string line = std::string("kelvora-console ") + kVersion + ": " + Text + "\n";
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);
  try {
    const std::string log = CurrentExeName() + ".log";
    TFileStream out(log, FileSizeOf(log) >= 0 ? (fmOpenWrite | fmShareDenyNone) : fmCreate);
    out.Seek(0, soEnd);
    out.Write(line.data(), static_cast<int64_t>(line.size()));
  } catch (...) {
    // A log that cannot be written does not stop the program.
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything else: an option is never taken for an address.
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kelvora-console %s\n", kVersion);
    return 0;
  }
  TApplication& app = Application();
  bool assumeYes = false;
  std::string infoURL;
  std::vector<std::string> ownArguments;
  for (int i = 1; i <= app.ParamCount(); ++i) {
    const std::string arg = app.ParamStr(i);
    if (arg == "/afterupgrade") continue;
    ownArguments.push_back(arg);
    if (arg == "--yes")
      assumeYes = true;
    else if (infoURL.empty())
      infoURL = arg;
  }

  TkvConsoleUpgradeUI ui(assumeYes ? TkvConsoleUpgradeUI::cmAssumeYes : TkvConsoleUpgradeUI::cmAsk);
  SetUpgradeUI(&ui);
  TkvKelvora updater(nullptr);
  updater.SetInfoFileURL(infoURL);
  updater.SetVersionControl(byNumber);
  updater.SetVersionNumber(kVersion);
  // Started again by the updater (upgraded, or the previous build put back),
  // it checks the same address the same way.
  updater.SetRestartArguments(ownArguments);

  int status = 0;
  auto finish = [&](int Status, const std::string& Text) {
    status = Status;
    Report(Text);
    app.Terminate();
  };
  updater.OnAfterRestart = [&](TObject*) { Report("restarted after the upgrade"); };
  updater.OnNoUpdateAvailable = [&](TObject*) { finish(0, "up to date"); };
  updater.OnLaterUpgrade = [&](TObject*) { finish(0, "upgrade declined"); };
  updater.OnNoInfoFile = [&](TObject*) { finish(3, "no info file at " + infoURL); };
  updater.OnConnLost = [&](TObject*) { finish(4, "connection lost"); };
  updater.OnHostUnreachable = [&](TObject*, const std::string&, const std::string& Host) {
    finish(4, "cannot reach " + Host);
  };
  updater.OnVerificationFailed = [&](TObject*, const std::string& Reason) { Report("refused: " + Reason); };
  updater.OnAborted = [&](TObject*) { finish(5, "upgrade stopped; nothing was changed"); };
  updater.OnEndUpgrade = [&](TObject*, bool&) { Report("downloaded; the updater takes over"); };
  updater.Loaded();  // fires OnAfterRestart in the run the updater started

  if (app.ParamStr(1) == updater.RestartParams()) return 0;
  if (infoURL.empty()) {
    std::fputs("usage: kelvora-console [--yes] <info file address>\n", stderr);
    return 2;
  }
  Report("checking " + infoURL);
  updater.CheckUpdates(false);
  // Whatever else ends the check without an event ends the program too.
  int idle = 0;
  LoopBackend().SetTimer(&updater, 1, 200, [&] {
    idle = updater.Busy() ? 0 : idle + 1;
    if (idle >= 10 && !app.Terminated()) finish(status != 0 ? status : 6, "the check ended");
  });
  app.Run();
  LoopBackend().KillTimer(&updater, 1);
  return status;
}
