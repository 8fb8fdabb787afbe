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
#include "LoginUndo.h"
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

namespace {

std::string ProgramOutcome(const TConfirmResult& R, int Seconds) {
  switch (R.Outcome) {
    case TConfirmOutcome::Confirmed:
      return "";
    case TConfirmOutcome::Ended:
      return R.Signalled ? "the new version was ended by signal " + std::to_string(R.Status) + " before it confirmed its start"
                         : "the new version ended with status " + std::to_string(R.Status) +
                               " before it confirmed its start";
    case TConfirmOutcome::TimedOut:
      break;
  }
  return "the new version did not confirm its start within " + std::to_string(Seconds) + " s";
}

// The install is undone: the previous release is put back and started as
// an ordinary start, without the restart parameters, and learns why from
// the failure record.
int Undo(const std::string& State, const TCommand& Cmd, int Lock, const std::string& File, const std::string& Reason) {
  std::fprintf(stderr, "AppUpdate: the upgrade is undone: %s: %s\n", File.c_str(), Reason.c_str());
  WriteFailure(State, File, Reason);
  if (!RollBack(State, Cmd.AppPath))
    std::fprintf(stderr, "AppUpdate: not every file could be put back; the next start tries again\n");
  ReleaseLock(Lock);
  if (StartProgram(Cmd.AppPath, "", Cmd.Arguments) < 0)
    std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", Cmd.AppPath.c_str(), std::strerror(errno));
  return 3;
}

// For a program that could not undo its own install while it ran: now that
// it has ended, the records are settled the way they say and the program is
// started again as an ordinary start (after an undo it is the previous
// build, which learns why from the failure record).
int RecoverForProgram(const std::string& State, const TCommand& Cmd, int Lock) {
  if (Lock >= 0) {
    Recover(State, Cmd.AppPath);
    if (Exists(JournalPath(State))) {
      // A file stayed (held by another program): started now, the program
      // would run from a mixed set, or hand the same undo back at once.
      std::fprintf(stderr, "AppUpdate: not every file could be put back; the next start tries again\n");
      ReleaseLock(Lock);
      return 3;
    }
  }
  ReleaseLock(Lock);
  if (StartProgram(Cmd.AppPath, "", Cmd.Arguments) < 0) {
    std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", Cmd.AppPath.c_str(), std::strerror(errno));
    return 3;
  }
  return 0;
}

// Started by the login entry: an install still waiting for a confirmation
// that nobody waits for any more is undone (a confirmed one is finished).
// Nothing is started: the person starts the program when they want it, and
// the previous build then says why the upgrade was undone.
int UndoAtLogin(const std::string& AppPath) {
  if (!IsAbsolutePath(AppPath)) return 2;
  const std::string state = StateFolderFor(AppPath);
  if (!IsDirectory(state) || !StateFolderIsSafe(state)) return 2;
  const int lock = OpenLock(state, false);
  if (lock < 0) return 0;  // nothing on record
  if (!TryLock(lock)) {
    // An updater still waits, or the program itself settles the install.
    ReleaseLock(lock);
    return 1;
  }
  ResolveInterruptedInstall(state, AppPath);
  int code = 0;
  if (Exists(JournalPath(state))) {
    std::fprintf(stderr, "AppUpdate: not every file could be put back; the next login tries again\n");
    std::string why;
    AddUndoAtLogin(state, AppPath, why);  // the system may have taken the entry away before running it
    code = 3;
  } else {
    RemoveUndoAtLogin(state);
  }
  ReleaseLock(lock);
  return code;
}

}  // namespace

int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit, int AppPid) {
  if (Args.empty()) {
    ShowInformation();
    return 0;
  }
  if (Args[0] == kUndoAtLoginOption) return Args.size() == 2 ? UndoAtLogin(Args[1]) : 2;
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
    // Nothing was moved: the upgrade is dropped, and the next start of the
    // program says why.
    std::fprintf(stderr, "AppUpdate: %s is still running; nothing was changed\n", cmd.AppPath.c_str());
    if (!cmd.Recovery && lock >= 0 && ReadQueue(QueuePath(state))) {
      WriteFailure(state, cmd.AppPath, "another instance of the program was still running");
      DiscardQueue(state);
    }
    ReleaseLock(lock);
    return 1;
  }

  if (cmd.Recovery) return RecoverForProgram(state, cmd, lock);

  TInstallResult installed;
  int confirmSeconds = 0;
  bool haveQueue = false;
  if (lock >= 0) {
    // What an earlier updater left halfway goes the way its records say.
    if (ResolveInterruptedInstall(state, cmd.AppPath) == TRecovered::RolledBack) {
      ReleaseLock(lock);
      StartProgram(cmd.AppPath, "", cmd.Arguments);
      return 3;
    }
    if (auto queue = ReadQueue(QueuePath(state), &confirmSeconds)) {
      haveQueue = true;
      installed = Install(state, *queue, cmd.AppPath);
      if (installed.Failed > 0) return Undo(state, cmd, lock, installed.FailedFile, installed.Reason);
    } else {
      RemoveFile(QueuePath(state));  // never committed: not an install
    }
    RemoveStaged(state);
  }
  const bool confirm = haveQueue && confirmSeconds > 0;
  if (!confirm) {
    // Nothing to prove: final now.
    if (haveQueue) FinishInstall(state);
    // Released before anything starts, so that a program started now may
    // upgrade again.
    ReleaseLock(lock);
  }

  const std::string setup = cmd.SetupMode && !SamePath(installed.SetupProgram, cmd.AppPath) ? installed.SetupProgram : "";
  if (!setup.empty()) {
    // External setup: once it has ended it is deleted and the application
    // starts.
    const auto pid = StartProgram(setup, cmd.RestartParams);  // the program's own arguments are not the setup's
    if (pid < 0) std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", setup.c_str(), std::strerror(errno));
    if (pid > 0) WaitForExit(pid);
    if (WaitUntilFree(setup, WaitLimit)) {
      if (!RemoveFile(setup))
        std::fprintf(stderr, "AppUpdate: could not delete %s: %s\n", setup.c_str(), std::strerror(errno));
    } else {
      std::fprintf(stderr, "AppUpdate: %s is still running; it is left in place\n", setup.c_str());
    }
  }
  if (!confirm) {
    if (StartProgram(cmd.AppPath, cmd.RestartParams, cmd.Arguments) < 0)
      std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", cmd.AppPath.c_str(), std::strerror(errno));
    return 0;
  }

  // The new release proves itself: it is started with the restart
  // parameters and must confirm its start in time.
  RemoveFile(ConfirmPath(state));
  // Should this updater be ended during the wait, and the new build never
  // get as far as undoing itself, the next login does it.
  if (std::string why; !AddUndoAtLogin(state, cmd.AppPath, why))
    std::fprintf(stderr, "AppUpdate: no undo at the next login could be arranged: %s\n", why.c_str());
  const auto pid = StartProgram(cmd.AppPath, cmd.RestartParams, cmd.Arguments);
  if (pid < 0) {
    const std::string why = std::string("the new version could not be started: ") + std::strerror(errno);
    return Undo(state, cmd, lock, cmd.AppPath, why);
  }
  MaybeKillIn("wait");
  const TConfirmResult answer = WaitForConfirmation(pid, state, std::chrono::seconds(confirmSeconds));
  if (answer.Outcome != TConfirmOutcome::Confirmed) {
    if (answer.Outcome == TConfirmOutcome::TimedOut) EndProgram(pid);
    return Undo(state, cmd, lock, cmd.AppPath, ProgramOutcome(answer, confirmSeconds));
  }
  FinishInstall(state);
  ReleaseLock(lock);
  return 0;
}

}  // namespace kelvora::updater
