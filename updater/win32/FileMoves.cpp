// Moves and attributes with the system's own calls: a rename with replace
// and write-through, so the move is on disk when it returns.
#include "../FileMoves.h"

#include <cerrno>

#include "Wide.h"

namespace kelvora::updater {

bool MoveOver(const std::string& Download, const std::string& Target) {
  const std::wstring from = Wide(Download), to = Wide(Target);
  const DWORD attr = ::GetFileAttributesW(from.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) {
    ErrnoFromLastError();
    return false;
  }
  if (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    errno = EINVAL;
    return false;
  }
  // A read-only target refuses to be replaced: it is made writable first
  // and gets its bits back when the move fails.
  const DWORD old = ::GetFileAttributesW(to.c_str());
  const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
  if (readOnly) ::SetFileAttributesW(to.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  ErrnoFromLastError();
  const int err = errno;
  if (readOnly) ::SetFileAttributesW(to.c_str(), old);
  errno = err;
  return false;
}

bool SetAttributes(const std::string& Path, std::uint32_t Bits) {
  return ::SetFileAttributesW(Wide(Path).c_str(), Bits == 0 ? FILE_ATTRIBUTE_NORMAL : Bits) != 0;
}

bool MakeExecutable(const std::string&) { return true; }  // a Windows file runs by its name

}  // namespace kelvora::updater
