#include "../Handover.h"

#include <io.h>

namespace kelvora::updater {

// The application passes no lock handle here: the updater takes the lock
// itself once the application has let go of it.
int TakeInheritedLock(const std::string&) { return -1; }

void ReleaseLock(int Lock) {
  if (Lock >= 0) ::_close(Lock);
}

// The engine names its process in KELVORA_APP_PID; without it the updater
// waits on the file alone.
int ParentProcess() { return 0; }

}  // namespace kelvora::updater
