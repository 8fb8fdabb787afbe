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

int Code(TExitCode C) { return static_cast<int>(C); }

// The program's own arguments, after the restart parameter when Restart.
std::vector<std::string> StartArguments(const TCommand& Cmd, bool Restart) {
  std::vector<std::string> args;
  if (Restart && Cmd.Restart) args.push_back(Cmd.RestartParam);
  args.insert(args.end(), Cmd.Arguments.begin(), Cmd.Arguments.end());
  return args;
}

// An ordinary start of the program: without the restart parameter.
void StartPlainly(const TCommand& Cmd) {
  if (StartProgram(Cmd.AppPath, StartArguments(Cmd, false)) < 0)
    std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", Cmd.AppPath.c_str(), std::strerror(errno));
}

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
  if (R.EndedCleanly)
    return "the new version ended with status 0 and nothing confirmed its start within " + std::to_string(Seconds) +
           " s";
  return "the new version did not confirm its start within " + std::to_string(Seconds) + " s";
}

// The install is undone: the previous release is put back and started as
// an ordinary start, without the restart parameter, and learns why from
// the failure record. When a file cannot be put back nothing is started:
// the program would run on a mix of two versions.
int Undo(const std::string& State, const TCommand& Cmd, int Lock, const std::string& File, const std::string& Reason,
         bool SetupRan) {
  const std::string reason =
      SetupRan ? Reason + "; the files the upgrade replaced were put back, but what its setup program changed stays"
               : Reason;
  std::fprintf(stderr, "AppUpdate: the upgrade is undone: %s: %s\n", File.c_str(), reason.c_str());
  WriteFailure(State, File, reason, SetupRan ? TFailureOutcome::SetupRan : TFailureOutcome::Kept);
  Decide(State, TDecision::Undo);  // no-op when decided already
  TUndoProblem problem;
  if (!RollBack(State, Cmd.AppPath, nullptr, &problem)) {
    WriteStuckFailure(State, problem);
    std::fprintf(stderr,
                 "AppUpdate: %s could not be put back (%s): the program's files are partly of the new version, so no "
                 "program was started; the next start tries again\n",
                 problem.File.c_str(), problem.Reason.c_str());
    ReleaseLock(Lock);
    return Code(TExitCode::Stuck);
  }
  ReleaseLock(Lock);
  StartPlainly(Cmd);
  return Code(TExitCode::NotInstalled);
}

// An upgrade that is not installed at all (its record unreadable, or no
// file to install): its downloads go, the failure is recorded, and the
// program starts as an ordinary start.
int NotInstalled(const std::string& State, const TCommand& Cmd, int Lock, const std::string& File,
                 const std::string& Reason) {
  std::fprintf(stderr, "AppUpdate: nothing was installed: %s: %s\n", File.c_str(), Reason.c_str());
  WriteFailure(State, File, Reason);
  DiscardQueue(State);
  ReleaseLock(Lock);
  StartPlainly(Cmd);
  return Code(TExitCode::NotInstalled);
}

// For a program that could not undo its own install while it ran: now that
// it has ended, the records are settled the way they say and the program is
// started again as an ordinary start (after an undo it is the previous
// build, which learns why from the failure record).
int RecoverForProgram(const std::string& State, const TCommand& Cmd, int Lock) {
  if (Lock >= 0) {
    if (Recover(State, Cmd.AppPath) == TRecovered::Stuck || Exists(JournalPath(State))) {
      // A file stayed (held by another program): started now, the program
      // would run from a mixed set, or hand the same undo back at once.
      std::fprintf(stderr, "AppUpdate: not every file could be put back; no program was started, the next start tries again\n");
      ReleaseLock(Lock);
      return Code(TExitCode::Stuck);
    }
  }
  ReleaseLock(Lock);
  if (StartProgram(Cmd.AppPath, StartArguments(Cmd, false)) < 0) {
    std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", Cmd.AppPath.c_str(), std::strerror(errno));
    return Code(TExitCode::Stuck);
  }
  return Code(TExitCode::Done);
}

bool AnyDownload(const std::vector<TQueueEntry>& Entries) {
  for (const TQueueEntry& e : Entries)
    if (Exists(e.Download)) return true;
  return false;
}

// Started by the login entry: an install still waiting for a confirmation
// that nobody waits for any more is undone (a confirmed one is finished).
// Nothing is started: the person starts the program when they want it, and
// the previous build then says why the upgrade was undone.
int UndoAtLogin(const std::string& AppPath) {
  if (!IsAbsolutePath(AppPath)) return Code(TExitCode::BadCommand);
  const std::string state = StateFolderFor(AppPath);
  if (!IsDirectory(state) || !StateFolderIsSafe(state)) return Code(TExitCode::BadCommand);
  const int lock = OpenLock(state, false);
  if (lock < 0) return Code(TExitCode::Done);  // nothing on record
  if (!TryLock(lock)) {
    // An updater still waits, or the program itself settles the install.
    ReleaseLock(lock);
    return Code(TExitCode::Busy);
  }
  ResolveInterruptedInstall(state, AppPath);
  auto code = TExitCode::Done;
  if (Exists(JournalPath(state))) {
    std::fprintf(stderr, "AppUpdate: not every file could be put back; the next login tries again\n");
    std::string why;
    AddUndoAtLogin(state, AppPath, why);  // the system may have taken the entry away before running it
    code = TExitCode::Stuck;
  } else {
    RemoveUndoAtLogin(state);
  }
  ReleaseLock(lock);
  return Code(code);
}

}  // namespace

int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit, int AppPid) {
  if (Args.empty()) {
    ShowInformation();
    return Code(TExitCode::Done);
  }
  if (Args[0] == kUndoAtLoginOption) return Args.size() == 2 ? UndoAtLogin(Args[1]) : Code(TExitCode::BadCommand);
  const TCommand cmd = ParseCommand(Args);
  if (!IsAbsolutePath(cmd.AppPath)) {
    // The application always names itself in full; anything else would move
    // files in whatever folder the updater happens to run in.
    std::fprintf(stderr, "AppUpdate: \"%s\" is not the full path of a program; nothing was changed\n",
                 cmd.AppPath.c_str());
    return Code(TExitCode::BadCommand);
  }
  // Taken before anything else, while the application most likely still
  // runs: its end then wakes the wait without polling.
  const int watch = WatchProcess(AppPid > 0 ? AppPid : ParentProcess(), cmd.AppPath);
  const std::string state = StateFolderFor(cmd.AppPath);
  const int lock = TakeLock(state, WaitLimit);
  if (lock == -2) {
    std::fprintf(stderr, "AppUpdate: another upgrade of %s is running; nothing was changed\n", cmd.AppPath.c_str());
    return Code(TExitCode::Busy);
  }

  const bool waited = !Exists(cmd.AppPath) || WaitUntilFree(cmd.AppPath, WaitLimit, watch);
  CloseWatch(watch);
  if (!waited) {
    // Nothing was moved: the upgrade is dropped, and the next start of the
    // program says why.
    std::fprintf(stderr, "AppUpdate: %s is still running; nothing was changed\n", cmd.AppPath.c_str());
    const TQueueState queue = ReadQueueFile(QueuePath(state)).State;
    if (!cmd.Recovery && lock >= 0 && (queue == TQueueState::Committed || queue == TQueueState::Unreadable)) {
      WriteFailure(state, cmd.AppPath, "another instance of the program was still running");
      DiscardQueue(state);
    }
    ReleaseLock(lock);
    return Code(TExitCode::Busy);
  }

  if (cmd.Recovery) return RecoverForProgram(state, cmd, lock);

  TInstallResult installed;
  TQueue queue;
  if (lock >= 0) {
    // What an earlier updater left halfway goes the way its records say.
    switch (ResolveInterruptedInstall(state, cmd.AppPath)) {
      case TRecovered::Stuck:
        std::fprintf(stderr, "AppUpdate: not every file could be put back; no program was started, the next start tries again\n");
        ReleaseLock(lock);
        return Code(TExitCode::Stuck);
      case TRecovered::RolledBack:
        ReleaseLock(lock);
        StartPlainly(cmd);
        return Code(TExitCode::NotInstalled);
      default:
        break;
    }
    queue = ReadQueueFile(QueuePath(state));
    if (queue.State == TQueueState::Unreadable)
      return NotInstalled(state, cmd, lock, QueuePath(state), "the upgrade's record could not be read: " + queue.Problem);
    if (queue.State == TQueueState::Committed) {
      // An upgrade with nothing to move is no upgrade: the program is not
      // told it was upgraded.
      if (!AnyDownload(queue.Entries))
        return NotInstalled(state, cmd, lock, cmd.AppPath, "the upgrade held no file to install");
      installed = Install(state, queue.Entries, cmd.AppPath);
      if (installed.Failed > 0) return Undo(state, cmd, lock, installed.FailedFile, installed.Reason, false);
    } else {
      RemoveFile(QueuePath(state));  // never committed: not an install
    }
    RemoveStaged(state);
  }
  const bool upgraded = queue.State == TQueueState::Committed;
  const bool confirm = upgraded && queue.ConfirmSeconds > 0;
  if (!confirm) {
    // Nothing to prove: final now.
    if (upgraded) FinishInstall(state);
    // Released before anything starts, so that a program started now may
    // upgrade again.
    ReleaseLock(lock);
  }

  const std::string setup = cmd.SetupMode && !SamePath(installed.SetupProgram, cmd.AppPath) ? installed.SetupProgram : "";
  if (!setup.empty()) {
    // External setup: once it has ended it is deleted and the application
    // starts. The program's own arguments are not the setup's.
    const auto pid = StartProgram(setup, cmd.Restart ? std::vector<std::string>{cmd.RestartParam} : std::vector<std::string>{});
    if (pid < 0) std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", setup.c_str(), std::strerror(errno));
    if (pid > 0) WaitForExit(pid);
    if (WaitUntilFree(setup, WaitLimit)) {
      if (!RemoveFile(setup))
        std::fprintf(stderr, "AppUpdate: could not delete %s: %s\n", setup.c_str(), std::strerror(errno));
    } else {
      std::fprintf(stderr, "AppUpdate: %s is still running; it is left in place\n", setup.c_str());
    }
  }
  const bool setupRan = !setup.empty();
  if (!confirm) {
    // Only an install is announced to the program with the restart parameter.
    if (StartProgram(cmd.AppPath, StartArguments(cmd, upgraded)) < 0)
      std::fprintf(stderr, "AppUpdate: could not start %s: %s\n", cmd.AppPath.c_str(), std::strerror(errno));
    return Code(TExitCode::Done);
  }

  // The new release proves itself: it is started with the restart
  // parameter and must confirm its start in time.
  RemoveFile(ConfirmPath(state));
  // Should this updater be ended during the wait, and the new build never
  // get as far as undoing itself, the next login does it.
  if (std::string why; !AddUndoAtLogin(state, cmd.AppPath, why))
    std::fprintf(stderr, "AppUpdate: no undo at the next login could be arranged: %s\n", why.c_str());
  const auto pid = StartProgram(cmd.AppPath, StartArguments(cmd, true));
  if (pid < 0) {
    const std::string why = std::string("the new version could not be started: ") + std::strerror(errno);
    return Undo(state, cmd, lock, cmd.AppPath, why, setupRan);
  }
  MaybeKillIn("wait");
  const TConfirmResult answer = WaitForConfirmation(pid, state, std::chrono::seconds(queue.ConfirmSeconds));
  // One step decides: a confirmation that came first stands, and a later
  // one is refused (the program's ConfirmUpgradeNow returns false).
  if (answer.Outcome != TConfirmOutcome::Confirmed && Decide(state, TDecision::Undo) != TDecision::Confirmed) {
    // Every process of the release ends, and so does an instance of the new
    // build started by hand meanwhile.
    EndProgram(pid);
    AskOthersRunningToEnd(cmd.AppPath);
    return Undo(state, cmd, lock, cmd.AppPath, ProgramOutcome(answer, queue.ConfirmSeconds), setupRan);
  }
  FinishInstall(state);
  ReleaseLock(lock);
  return Code(TExitCode::Done);
}

}  // namespace kelvora::updater
