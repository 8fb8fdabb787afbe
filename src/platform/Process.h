// The Linux seam for starting programs: a detached process in a new session,
// so that it outlives the application (the system's ShellExecute/WinExec).
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// Splits a parameter text into arguments: blanks separate, double quotes
// group (and are removed). An empty text gives no argument; "" gives an
// empty one.
std::vector<std::string> SplitArguments(const std::string& Text);

// Starts Argv[0] (searched in PATH when it has no "/") with Argv as its
// arguments, in a new session, standard input from /dev/null and no other
// descriptor of this process inherited beyond 0, 1 and 2. The child is
// reaped in the background; nothing waits for it. Returns the process id,
// or -1 (with errno) when the program could not be started.
int SpawnDetached(const std::vector<std::string>& Argv);

// As SpawnDetached, with Program (a path, not searched) run under the
// arguments Argv, KeepFd (when >= 0) handed to the program as descriptor 3,
// and Env ("NAME=value") added to the environment. The call returns only
// once the program runs: a program that cannot be executed (missing, no
// permission, a noexec mount) is an error here.
int SpawnProgram(const std::string& Program, const std::vector<std::string>& Argv, int KeepFd,
                 const std::vector<std::string>& Env);

}  // namespace kelvora::platform
