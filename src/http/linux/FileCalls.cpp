#include "http/FileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::httpimpl {

int OpenReadWrite(const std::string& Path, bool Truncate) {
  return ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (Truncate ? O_TRUNC : 0), 0666);
}

int OpenExisting(const std::string& Path, int64_t& Size) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  Size = st.st_size;
  return fd;
}

bool SeekTo(int Fd, int64_t Position) { return ::lseek(Fd, Position, SEEK_SET) == Position; }

int64_t ReadSome(int Fd, void* Buffer, size_t Count) { return ::read(Fd, Buffer, Count); }

int64_t WriteSome(int Fd, const void* Data, size_t Count) { return ::write(Fd, Data, Count); }

void CloseFile(int Fd) { ::close(Fd); }

void RemoveFile(const std::string& Path) { ::unlink(Path.c_str()); }

}  // namespace kelvora::httpimpl
