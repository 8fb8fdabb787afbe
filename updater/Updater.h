// The updater's whole run: wait until the application has ended, put every
// download in place, start the application (or, for an external setup, the
// downloaded setup program and then the application) again.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kelvora::updater {

// How long the application (and a finished setup program) may keep its
// executable busy before the updater gives up without changing anything.
inline constexpr std::chrono::milliseconds kDefaultWaitLimit = std::chrono::minutes(5);

// Args are the command-line parameters without the program's own name.
// Returns the exit code: 0 when done (a download that cannot be moved stays
// under its temporary name and is reported on stderr), 1 when the
// application was still running after WaitLimit, 2 when the command line
// names no full path (nothing changed in either case).
int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit);

}  // namespace kelvora::updater
