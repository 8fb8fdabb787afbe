// Starting a program as a process of its own that outlives the updater.
#pragma once

#include <sys/types.h>

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

}  // namespace kelvora::updater
