// The C runtime's wide-name calls: binary mode (no line-end translation),
// not inherited, shared for reading and writing, 64-bit positions.
#include "http/FileCalls.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>

namespace kelvora::httpimpl {

namespace {

std::wstring Wide(const std::string& S) {
  if (S.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, S.data(), static_cast<int>(S.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, S.data(), static_cast<int>(S.size()), w.data(), n);
  return w;
}

unsigned Clamp(size_t Count) { return Count > INT_MAX ? INT_MAX : static_cast<unsigned>(Count); }

}  // namespace

int OpenReadWrite(const std::string& Path, bool Truncate) {
  int fd = -1;
  const int flags = _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT | (Truncate ? _O_TRUNC : 0);
  if (_wsopen_s(&fd, Wide(Path).c_str(), flags, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) return -1;
  return fd;
}

int OpenExisting(const std::string& Path, int64_t& Size) {
  int fd = -1;
  if (_wsopen_s(&fd, Wide(Path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0) return -1;
  struct _stati64 st {};
  if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFDIR)) {
    _close(fd);
    return -1;
  }
  Size = st.st_size;
  return fd;
}

bool SeekTo(int Fd, int64_t Position) { return _lseeki64(Fd, Position, SEEK_SET) == Position; }

int64_t ReadSome(int Fd, void* Buffer, size_t Count) { return _read(Fd, Buffer, Clamp(Count)); }

int64_t WriteSome(int Fd, const void* Data, size_t Count) { return _write(Fd, Data, Clamp(Count)); }

void CloseFile(int Fd) { _close(Fd); }

void RemoveFile(const std::string& Path) { _wunlink(Wide(Path).c_str()); }

}  // namespace kelvora::httpimpl
