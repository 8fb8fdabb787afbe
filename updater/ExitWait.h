// Waiting until a program file is no longer run by any process.
#pragma once

#include <chrono>
#include <string>

namespace kelvora::updater {

// True while a process runs Path. Opening a running executable for writing
// fails with ETXTBSY; when the open fails for another reason (no write
// permission, read-only file system), the running processes are looked up
// instead, as far as /proc shows them.
bool InUse(const std::string& Path);

// Polls InUse about once per millisecond from a thread at the lowest
// priority (the caller's own priority, which the programs it starts later
// inherit, is not touched). False when Path was still in use after Limit.
bool WaitUntilFree(const std::string& Path, std::chrono::milliseconds Limit);

}  // namespace kelvora::updater
