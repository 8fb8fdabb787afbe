// Starting a program as a process of its own that outlives the updater.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kelvora::updater {


// Starts Program with the arguments of Params, then each of Extra as it is,
// in a new session, standard input from /dev/null, default signal handling.
// Returns the process id, or -1 (with errno) when it could not be started.
pid_t StartProgram(const std::string& Program, const std::string& Params,
                   const std::vector<std::string>& Extra = {});

// Waits for a process started by StartProgram to end.
void WaitForExit(pid_t Pid);

// How a started program answered: it confirmed its start (the confirmation
// file appeared in StateFolder), ended first (Status: its exit code, or the
// signal when Signalled), or did neither within the limit.
enum class TConfirmOutcome { Confirmed, Ended, TimedOut };
struct TConfirmResult {
  TConfirmOutcome Outcome = TConfirmOutcome::TimedOut;
  int Status = 0;
  bool Signalled = false;
};
// Waits without polling on both the process and the folder (Linux: a pidfd
// and inotify; Windows: the process handle and a change notification).
TConfirmResult WaitForConfirmation(pid_t Pid, const std::string& StateFolder, std::chrono::milliseconds Limit);
// Ends a started program that did not confirm: asked first (SIGTERM), then
// forced after a short grace (SIGKILL; TerminateProcess on Windows); reaped.
void EndProgram(pid_t Pid);

}  // namespace kelvora::updater
