// The platform seam for starting programs: a detached process that outlives
// the application. Linux: posix_spawn in a new session. Windows:
// CreateProcessW without a console, in a process group of its own, the
// arguments quoted into one command line so that the program's C runtime
// reads them back unchanged.
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

// Starts Argv[0] (searched in PATH when it names no folder) with Argv as its
// arguments. Linux: in a new session, standard input from /dev/null and no
// other descriptor of this process inherited beyond 0, 1 and 2; the child is
// reaped in the background. Windows: no handle inherited. Nothing waits for
// the program. Returns the process id, or -1 (with errno) when the program
// could not be started.
int SpawnDetached(const std::vector<std::string>& Argv);
// Hands a web address to the desktop's own opener (Linux: xdg-open, else
// sensible-browser; Windows: the shell). Reports nothing.
void OpenWithDesktop(const std::string& Address);

// As SpawnDetached, with Program (a path, not searched) run under the
// arguments Argv, KeepFd (when >= 0) handed to the program as descriptor 3
// (Windows: a C runtime descriptor whose handle alone is inherited, passed
// the way the C runtime hands descriptors to a child), and Env ("NAME=value")
// added to the environment, replacing a variable of that name. The call returns only
// once the program runs: a program that cannot be executed (missing, no
// permission, a noexec mount) is an error here.
int SpawnProgram(const std::string& Program, const std::vector<std::string>& Argv, int KeepFd,
                 const std::vector<std::string>& Env);
// Linux: as SpawnProgram, with the program Name looked up in the folder open
// as FolderFd (no path that anyone could change between a check and the
// start). The program keeps the folder open as descriptor 4, so that a
// script can be read by its interpreter.
int SpawnProgramIn(int FolderFd, const std::string& Name, const std::vector<std::string>& Argv, int KeepFd,
                   const std::vector<std::string>& Env);

}  // namespace kelvora::platform
