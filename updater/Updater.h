// The updater's whole run: wait until the application has ended, install the
// committed queue of its state folder, start the application (or, for an
// external setup, the downloaded setup program and then the application)
// again.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace kelvora::updater {

// How long the application (and a finished setup program) may keep its
// executable busy before the updater gives up without changing anything.
inline constexpr std::chrono::milliseconds kDefaultWaitLimit = std::chrono::minutes(5);

// The descriptor on which the application hands over its upgrade lock.
inline constexpr int kInheritedLockFd = 3;

// Args are the command-line parameters without the program's own name;
// AppPid is the application to wait for (0: the parent process). Returns the
// exit code: 0 when done (a download that cannot be moved stays under its
// temporary name and is reported on stderr), 1 when the application was
// still running after WaitLimit or another upgrade of it holds the lock, 2
// when the command line names no full path (nothing changed in these cases).
// In recovery mode (kRecoverOption): 0 when the records were settled and the
// program started again, 3 when a file could not be put back (the program
// is not started; its next start tries again) or it could not be started.
int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit, int AppPid = 0);

}  // namespace kelvora::updater
