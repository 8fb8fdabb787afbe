// The updater's command line: the application's path, then "+" with the
// restart parameters and the method digit ("0" self-upgrade, "1" external
// setup), optionally followed by "--" and the program's own arguments, which
// are passed on one by one after the restart parameters. Led by "--recover",
// it finishes the records of an interrupted install once the application
// has ended, instead of installing a queue.
#pragma once

#include <string>
#include <vector>

namespace kelvora::updater {

struct TCommand {
  std::string AppPath;        // the program to wait for and to start again
  std::string RestartParams;  // passed to the program when it is started again
  bool SetupMode = false;     // the digit was "1"
  std::vector<std::string> Arguments;  // the program's own, after the restart parameters
  bool Recovery = false;      // led by kRecoverOption
};

// The program hands the updater what it cannot do while it runs: on Windows
// its own files cannot be put back from under it.
inline constexpr const char* kRecoverOption = "--recover";

// Separates the restart part from the program's own arguments.
inline constexpr const char* kArgumentsMarker = "--";

// Args are the parameters without the program's own name. They are joined
// with single blanks, so a command line split at the blanks of the
// application's path reads the same as one that kept the path whole. The
// restart part starts with the first parameter that begins with "+" (a "+"
// inside the path does not count) and runs up to a parameter "--" after it;
// without one, everything is the path and there is no restart parameter and
// no digit. Every parameter after that "--" is one of Arguments, unchanged.
// A first parameter kRecoverOption sets Recovery; the rest reads as above.
TCommand ParseCommand(const std::vector<std::string>& Args);

// The folder of Path up to and including its last "/" ("" when it has
// none), and the part after it.
std::string FolderOf(const std::string& Path);
std::string NameOf(const std::string& Path);

// Splits a parameter text into arguments: blanks separate, double quotes
// group (and are removed).
std::vector<std::string> SplitArguments(const std::string& Text);

}  // namespace kelvora::updater
