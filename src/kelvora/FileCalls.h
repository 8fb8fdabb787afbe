// The engine's few file calls that differ between systems (linux/ and win32/
// FileCalls.cpp). Paths are UTF-8; the rest of the engine's file work uses
// the updater's own TransactionFiles.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvora::detail {

bool IsFolder(const std::string& Path);    // following links
bool PathExists(const std::string& Path);  // following links
// Makes the folder Path, private to this user; true when it exists.
bool MakePrivateFolder(const std::string& Path);
// Appends Text to Path (created private when missing) and flushes it to
// disk; false (with errno) when any step fails.
bool AppendDurably(const std::string& Path, const std::string& Text);
// Path with every link on the way resolved (it must exist); "" when it
// cannot be resolved.
std::string ResolvedPath(const std::string& Path);
// The size of the file at Path, -1 when it cannot be read.
std::int64_t FileSize(const std::string& Path);
// Hands the file's bytes to Chunk, block by block, until the end or until
// Chunk returns false. False when the file cannot be opened or read.
bool ReadInChunks(const std::string& Path, const std::function<bool(const char*, std::size_t)>& Chunk);
// Deletes an updater program left from the last upgrade. On Windows a
// running program cannot be deleted: the updater that has just started this
// program may still be ending, so it is given a moment.
void RemoveOldUpdater(const std::string& Path);
// Closes a descriptor the updater's OpenLock returned.
void CloseLock(int Fd);
// Whether this process keeps Path from being renamed over or removed while
// it runs: on Windows its own program file and every module it has loaded
// (only the updater, once the process has ended, can replace them); nothing
// on Linux.
bool HeldWhileRunning(const std::string& Path);

}  // namespace kelvora::detail
