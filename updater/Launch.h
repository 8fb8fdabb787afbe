// Starting a program as a process of its own that outlives the updater, and
// ending everything a started program began.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kelvora::updater {

// Starts Program with Args, each one argument exactly as given, in a group
// of its own (Linux: a new session whose id is the process id; Windows: a
// job object), standard input from /dev/null, default signal handling.
// Returns the process id, or -1 (with errno) when it could not be started.
pid_t StartProgram(const std::string& Program, const std::vector<std::string>& Args);

// Waits for a process started by StartProgram to end.
void WaitForExit(pid_t Pid);

// How a started program answered: it confirmed its start (the decision
// record in StateFolder says so), ended first with a failure (Status: its
// exit code, or the signal when Signalled), or did neither within the limit.
// A program that ends with status 0 keeps its chance until the limit (a
// launcher: a process it started may confirm); EndedCleanly then tells so.
enum class TConfirmOutcome { Confirmed, Ended, TimedOut };
struct TConfirmResult {
  TConfirmOutcome Outcome = TConfirmOutcome::TimedOut;
  int Status = 0;
  bool Signalled = false;
  bool EndedCleanly = false;
};
// Waits without polling on both the process and the folder (Linux: a pidfd
// and inotify; Windows: the process handle and a change notification).
TConfirmResult WaitForConfirmation(pid_t Pid, const std::string& StateFolder, std::chrono::milliseconds Limit);
// Ends a started program and every process it started: asked first
// (SIGTERM to its process group and to every descendant), then forced after
// a short grace (SIGKILL). On Windows every top-level window of its job gets
// WM_CLOSE, the job ends when the grace is over (at once without windows).
void EndProgram(pid_t Pid);
// Asks every other process of this user that runs the file at Path (as it
// is now) to end (SIGTERM; nothing on Windows, where such a file cannot be
// put back while it runs). For an instance started by hand while an
// undone release waited for its confirmation.
void AskOthersRunningToEnd(const std::string& Path);

}  // namespace kelvora::updater
