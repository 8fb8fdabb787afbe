// What the application hands the updater besides its command line: the
// upgrade lock it may pass on, and its own process.
#pragma once

#include <string>

namespace kelvora::updater {

// The lock of State the application handed over (kInheritedLockFd), locked
// now by the updater; -1 when there is none or it is another folder's.
int TakeInheritedLock(const std::string& State);
// Releases a lock descriptor, and the handed-over one when it was not used.
void ReleaseLock(int Lock);
// The process that started the updater (0 when unknown).
int ParentProcess();

}  // namespace kelvora::updater
