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
// AppPid is the application to wait for (0: the parent process). Returns a
// TExitCode (Command.h): Done when installed (a download that cannot be
// moved stays under its temporary name and is reported on stderr) or when
// there was nothing to install; Busy when the application was still running
// after WaitLimit or another upgrade of it holds the lock; BadCommand when
// the command line names no full path (nothing changed in these cases);
// NotInstalled when the upgrade failed or was undone (the previous files
// are back and the program started plainly); Stuck when a file could not be
// put back (no program started; its next start tries again). In recovery
// mode (kRecoverOption): Done when the records were settled and the program
// started again, Stuck otherwise.
int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit, int AppPid = 0);

}  // namespace kelvora::updater
