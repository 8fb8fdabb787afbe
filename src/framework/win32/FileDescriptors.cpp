// CRT descriptors over the wide-character open: always binary (the text mode
// would rewrite line ends), never inherited, shared for reading and writing
// as the POSIX side is.
#include "framework/FileDescriptors.h"

#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>

#include "framework/win32/Wide.h"

namespace kelvora::sys {

int OpenFile(const std::string& Name, int Flags, int Mode) {
  if (Name.empty()) {
    errno = ENOENT;
    return -1;
  }
  const int pmode = (Mode & 0200) != 0 ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
  int fd = -1;
  if (::_wsopen_s(&fd, win32::Wide(Name).c_str(), Flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, pmode) != 0)
    return -1;
  return fd;
}

// The CRT moves at most INT_MAX bytes per call; callers loop on short counts.
std::int64_t ReadFile(int Fd, void* Buffer, std::size_t Count) {
  const unsigned n = Count > INT_MAX ? INT_MAX : static_cast<unsigned>(Count);
  return ::_read(Fd, Buffer, n);
}

std::int64_t WriteFile(int Fd, const void* Buffer, std::size_t Count) {
  const unsigned n = Count > INT_MAX ? INT_MAX : static_cast<unsigned>(Count);
  return ::_write(Fd, Buffer, n);
}

std::int64_t SeekFile(int Fd, std::int64_t Offset, int Whence) { return ::_lseeki64(Fd, Offset, Whence); }

bool TruncateFile(int Fd, std::int64_t Size) { return ::_chsize_s(Fd, Size) == 0; }

void CloseFile(int Fd) { ::_close(Fd); }

}  // namespace kelvora::sys
