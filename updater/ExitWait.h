// Waiting until a program file is no longer run by any process.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace kelvora::updater {

// True while a process runs Path. Opening a running executable for writing
// fails (ETXTBSY; a sharing violation on Windows). On Linux, when the open
// fails for another reason (no write permission, read-only file system), the
// running processes are looked up instead, as far as /proc shows them.
bool InUse(const std::string& Path);

// A handle on the process Pid that becomes ready when it ends (a pidfd; a
// process handle on Windows), taken only while Pid still runs Path: -1 when
// the system gives none, the process is gone, or it runs something else (a
// reused pid).
int WatchProcess(pid_t Pid, const std::string& Path);
// Releases a handle of WatchProcess (nothing for -1).
void CloseWatch(int Watch);

// Waits until Path is free: first, without polling, for the process behind
// Watch (when >= 0) to end; then, while another process still holds the
// file, with checks at growing intervals (1 ms up to 100 ms). Runs on a
// thread of the lowest priority (the caller's own priority, which the
// programs it starts later inherit, is not touched). False when Path was
// still in use after Limit.
bool WaitUntilFree(const std::string& Path, std::chrono::milliseconds Limit, int Watch = -1);

}  // namespace kelvora::updater
