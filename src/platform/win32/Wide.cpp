#include "platform/win32/Wide.h"

#include <cerrno>
#include <climits>

namespace kelvora::platform {

std::wstring Wide(const std::string& Utf8) {
  if (Utf8.empty() || Utf8.size() > INT_MAX) return {};
  const int in = static_cast<int>(Utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), in, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), in, out.data(), n);
  return out;
}

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

std::string Utf8(const wchar_t* Text, std::size_t Length) {
  if (Text == nullptr || Length == 0 || Length > INT_MAX) return {};
  const int in = static_cast<int>(Length);
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, Text, in, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, Text, in, out.data(), n, nullptr, nullptr);
  return out;
}

std::string Utf8(const std::wstring& Text) { return Utf8(Text.data(), Text.size()); }

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
