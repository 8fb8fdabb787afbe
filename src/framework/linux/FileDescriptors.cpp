#include "framework/FileDescriptors.h"

#include <unistd.h>

#include <cerrno>

namespace kelvora::sys {

int OpenFile(const std::string& Name, int Flags, int Mode) {
  return ::open(Name.c_str(), Flags | O_CLOEXEC, static_cast<mode_t>(Mode));
}

std::int64_t ReadFile(int Fd, void* Buffer, std::size_t Count) {
  for (;;) {
    const ssize_t n = ::read(Fd, Buffer, Count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

std::int64_t WriteFile(int Fd, const void* Buffer, std::size_t Count) {
  for (;;) {
    const ssize_t n = ::write(Fd, Buffer, Count);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

std::int64_t SeekFile(int Fd, std::int64_t Offset, int Whence) {
  const off_t r = ::lseek(Fd, static_cast<off_t>(Offset), Whence);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool TruncateFile(int Fd, std::int64_t Size) { return ::ftruncate(Fd, static_cast<off_t>(Size)) == 0; }

void CloseFile(int Fd) { ::close(Fd); }

}  // namespace kelvora::sys
