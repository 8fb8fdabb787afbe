#include "platform/win32/WideExact.h"

#include <cerrno>
#include <climits>

namespace kelvora::platform {

bool WideExact(const std::string& Utf8, std::wstring& Out) {
  Out.clear();
  if (Utf8.empty()) return true;
  if (Utf8.find('\0') != std::string::npos || Utf8.size() > INT_MAX) {
    errno = EILSEQ;
    return false;
  }
  const int in = static_cast<int>(Utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8.data(), in, nullptr, 0);
  if (n <= 0) {
    errno = EILSEQ;
    return false;
  }
  Out.resize(static_cast<std::size_t>(n));
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, Utf8.data(), in, Out.data(), n);
  return true;
}

void SetErrnoFromSystem(DWORD Error) {
  switch (Error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED: errno = EACCES; break;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH: errno = ENOEXEC; break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: errno = ENOMEM; break;
    case ERROR_INVALID_PARAMETER: errno = EINVAL; break;
    case ERROR_FILENAME_EXCED_RANGE: errno = ENAMETOOLONG; break;
    default: errno = EIO; break;
  }
}

}  // namespace kelvora::platform
