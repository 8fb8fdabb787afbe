#include "../Handover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../Transaction.h"
#include "../Updater.h"

namespace kelvora::updater {

int TakeInheritedLock(const std::string& State) {
  // Held while the restarted program runs: never passed on to it.
  ::fcntl(kInheritedLockFd, F_SETFD, FD_CLOEXEC);
  struct stat inherited {}, own {};
  if (::fstat(kInheritedLockFd, &inherited) == 0 && ::stat(LockPath(State).c_str(), &own) == 0 &&
      inherited.st_dev == own.st_dev && inherited.st_ino == own.st_ino && StateFolderIsSafe(State)) {
    if (TryLock(kInheritedLockFd)) return kInheritedLockFd;
  }
  return -1;
}

void ReleaseLock(int Lock) {
  if (Lock >= 0) ::close(Lock);
  if (Lock != kInheritedLockFd) ::close(kInheritedLockFd);
}

int ParentProcess() { return static_cast<int>(::getppid()); }

}  // namespace kelvora::updater
