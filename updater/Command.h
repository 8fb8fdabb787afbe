// The updater's command line: the application's path, then one argument "+"
// with the restart parameter and the method digit ("0" self-upgrade, "1"
// external setup), optionally followed by "--" and the program's own
// arguments. The restart parameter and each own argument reach the program
// exactly as given, one argument each (blanks, quotes and empty ones
// included). Led by "--recover", it finishes the records of an interrupted
// install once the application has ended, instead of installing a queue.
#pragma once

#include <string>
#include <vector>

namespace kelvora::updater {

struct TCommand {
  std::string AppPath;        // the program to wait for and to start again
  bool Restart = false;       // a restart parameter was given (the "+" argument held more than "+")
  std::string RestartParam;   // passed to the program as its first argument when it is started again
  bool SetupMode = false;     // the digit was "1"
  std::vector<std::string> Arguments;  // the program's own, after the restart parameter
  bool Recovery = false;      // led by kRecoverOption
};

// The program hands the updater what it cannot do while it runs: on Windows
// its own files cannot be put back from under it.
inline constexpr const char* kRecoverOption = "--recover";

// Separates the restart part from the program's own arguments.
inline constexpr const char* kArgumentsMarker = "--";

// The updater's exit codes.
enum class TExitCode : int {
  Done = 0,         // installed (and confirmed when asked), or nothing to install; the program started
  Busy = 1,         // the application still ran, or another upgrade holds the lock: nothing changed
  BadCommand = 2,   // no full path of a program: nothing changed
  NotInstalled = 3, // the upgrade failed or was undone: the previous files are back, the program started plainly
  Stuck = 4,        // a file could not be put back: no program started, the journal stays for the next start
};

// The parameters (without the updater's own name) that ParseCommand reads
// back as Command, one argument each.
std::vector<std::string> FormatCommand(const TCommand& Command);

// Args are the parameters without the program's own name. The restart part
// is the first parameter that begins with "+" (a "+" inside the path does
// not count); the parameters before it are the path, joined with single
// blanks (a command line split at the blanks of the path reads the same as
// one that kept it whole). When the restart part is one parameter, its text
// between the "+" and the last character (the digit) is the restart
// parameter, unchanged; several parameters up to a "--" (a command line
// split at blanks) are joined with single blanks first. Every parameter after
// that "--" is one of Arguments, unchanged. Without a "+" parameter,
// everything is the path and there is no restart parameter. A first
// parameter kRecoverOption sets Recovery; the rest reads as above.
TCommand ParseCommand(const std::vector<std::string>& Args);

// The folder of Path up to and including its last "/" ("" when it has
// none), and the part after it.
std::string FolderOf(const std::string& Path);
std::string NameOf(const std::string& Path);

}  // namespace kelvora::updater
