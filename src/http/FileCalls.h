// The few file calls of the transfer component, on a descriptor of the C
// runtime (the handle a THandleStream carries). Each system has its own
// version (linux/, win32/): binary mode, no inheritance by child processes,
// 64-bit positions, UTF-8 names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvora::httpimpl {

// Opens (creating it when missing) for reading and writing, emptied when
// Truncate. -1 with errno set on failure.
int OpenReadWrite(const std::string& Path, bool Truncate);
// Opens an existing file (not a folder) for reading; Size receives its
// size. -1 on failure.
int OpenExisting(const std::string& Path, int64_t& Size);
bool SeekTo(int Fd, int64_t Position);
// Like read and write: the count moved, 0 at the end, -1 with errno set.
int64_t ReadSome(int Fd, void* Buffer, size_t Count);
int64_t WriteSome(int Fd, const void* Data, size_t Count);
void CloseFile(int Fd);
void RemoveFile(const std::string& Path);

}  // namespace kelvora::httpimpl
