#include "Updater.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "Command.h"
#include "ExitWait.h"
#include "Handover.h"
#include "Launch.h"
#include "Transaction.h"
#include "TransactionFiles.h"

namespace kelvora::updater {

namespace {

void ShowInformation() {
  std::printf(
      "Upgrader v4.0\n"
      "Self-upgrading mechanism for Kelvora component.\n"
      "The application starts it after an upgrade has been downloaded; there is nothing to do by hand.\n");
}

// The lock the application handed over on descriptor 3, when it is the lock
// of this state folder; otherwise the lock taken here, waiting (bounded) for
// another holder to let go. -1 when there is no state folder at all (nothing
// to install) or the lock stayed taken (-2).
int TakeLock(const std::string& State, std::chrono::milliseconds Limit) {
  if (const int inherited = TakeInheritedLock(State); inherited >= 0) return inherited;
  const int fd = OpenLock(State, false);
  if (fd < 0) return -1;
  const auto end = std::chrono::steady_clock::now() + Limit;
  auto pause = std::chrono::milliseconds(1);
  while (!TryLock(fd)) {
    if (std::chrono::steady_clock::now() >= end) {
      ReleaseLock(fd);
      return -2;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(100));
  }
  return fd;
}

}  // namespace

int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit, int AppPid) {
  if (Args.empty()) {
    ShowInformation();
    return 0;
  }
  const TCommand cmd = ParseCommand(Args);
  if (!IsAbsolutePath(cmd.AppPath)) {
    // The application always names itself in full; anything else would move
    // files in whatever folder the updater happens to run in.
    std::fprintf(stderr, "AppUpdate: \"%s\" is not the full path of a program; nothing was changed\n",
                 cmd.AppPath.c_str());
    return 2;
  }
  // Taken before anything else, while the application most likely still
  // runs: its end then wakes the wait without polling.
  const int watch = WatchProcess(AppPid > 0 ? AppPid : ParentProcess(), cmd.AppPath);
  const std::string state = StateFolderFor(cmd.AppPath);
  const int lock = TakeLock(state, WaitLimit);
  if (lock == -2) {
    std::fprintf(stderr, "AppUpdate: another upgrade of %s is running; nothing was changed\n", cmd.AppPath.c_str());
    return 1;
  }

  const bool waited = !Exists(cmd.AppPath) || WaitUntilFree(cmd.AppPath, WaitLimit, watch);
  CloseWatch(watch);
  if (!waited) {
    // The queue stays committed: the next start of the program installs it.
    std::fprintf(stderr, "AppUpdate: %s is still running; nothing was changed\n", cmd.AppPath.c_str());
    return 1;
  }

  TInstallResult installed;
  if (lock >= 0) Recover(state, cmd.AppPath, &installed);
  // Released before anything starts, so that a program started now may
  // upgrade again.
  ReleaseLock(lock);

  const std::string setup = cmd.SetupMode && !SamePath(installed.SetupProgram, cmd.AppPath) ? installed.SetupProgram : "";
  const std::string first = setup.empty() ? cmd.AppPath : setup;
  const auto pid = StartProgram(first, cmd.RestartParams, setup.empty() ? cmd.Arguments : std::vector<std::string>{});
  if (pid < 0) std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", first.c_str(), std::strerror(errno));
  if (setup.empty()) return 0;

  // External setup: once it has ended it is deleted and the application
  // starts.
  if (pid > 0) WaitForExit(pid);
  if (WaitUntilFree(setup, WaitLimit)) {
    if (!RemoveFile(setup))
      std::fprintf(stderr, "AppUpdate: could not delete %s: %s\n", setup.c_str(), std::strerror(errno));
  } else {
    std::fprintf(stderr, "AppUpdate: %s is still running; it is left in place\n", setup.c_str());
  }
  if (StartProgram(cmd.AppPath, cmd.RestartParams, cmd.Arguments) < 0)
    std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", cmd.AppPath.c_str(), std::strerror(errno));
  return 0;
}

}  // namespace kelvora::updater
