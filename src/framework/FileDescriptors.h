// A few file calls on plain descriptors, the same on every system: names are
// UTF-8, data is binary, descriptors are not inherited by child processes,
// and failures leave the reason in errno.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kelvora::sys {

// Flags: O_RDONLY / O_WRONLY / O_RDWR with O_CREAT, O_TRUNC, O_EXCL. Mode is
// the permission of a new file where the system has them. -1 on failure.
int OpenFile(const std::string& Name, int Flags, int Mode = 0666);
// Bytes read or written (retried when interrupted), -1 on failure.
std::int64_t ReadFile(int Fd, void* Buffer, std::size_t Count);
std::int64_t WriteFile(int Fd, const void* Buffer, std::size_t Count);
// Whence: SEEK_SET / SEEK_CUR / SEEK_END. The new position, -1 on failure.
std::int64_t SeekFile(int Fd, std::int64_t Offset, int Whence);
bool TruncateFile(int Fd, std::int64_t Size);
void CloseFile(int Fd);

}  // namespace kelvora::sys
