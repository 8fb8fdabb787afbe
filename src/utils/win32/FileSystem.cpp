// Folders, file sizes, attributes and times on Windows, through the
// wide-character calls.
#include <io.h>
#include <windows.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"
#include "utils/OpenFileCalls.h"

namespace kelvora {

using win32::Wide;

namespace {

constexpr DWORD kAllAttributeBits = 0x20 | 0x02 | 0x01 | 0x04 | 0x100 | 0x1000;

bool IsSeparator(char C) { return C == '\\' || C == '/'; }

// A date-time through the FAT packed form (DosDateTimeToFileTime): years
// 1980 to 2107, seconds in two-second steps. Date-times here are local (the
// HTTP dates are converted to local time when they are parsed), so the result
// is taken from local time to the UTC the file system keeps, with the zone's
// rules of that date; storing local fields as UTC would shift every file time
// by the zone's offset.
bool DateTimeToFileTime(TDateTime T, FILETIME& Out) {
  utils::TDateTimeParts p{};
  if (!utils::TryDecodeDateTime(T, p)) return false;
  if (p.Year < 1980 || p.Year > 2107) return false;
  const WORD fatDate = static_cast<WORD>(((p.Year - 1980) << 9) | (p.Month << 5) | p.Day);
  const WORD fatTime = static_cast<WORD>((p.Hour << 11) | (p.Min << 5) | (p.Sec / 2));
  FILETIME local;
  SYSTEMTIME localParts, utcParts;
  if (!::DosDateTimeToFileTime(fatDate, fatTime, &local) || !::FileTimeToSystemTime(&local, &localParts) ||
      !::TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts))
    return false;
  return ::SystemTimeToFileTime(&utcParts, &Out) != FALSE;
}

}  // namespace

bool FolderExists(const std::string& Name) {
  if (Name.empty()) return false;
  const DWORD a = ::GetFileAttributesW(Wide(Name).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void ForceFolders(const std::string& FileName) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < FileName.size(); ++i)
    if (IsSeparator(FileName[i]) || FileName[i] == ':') last = i;
  if (last == std::string::npos) return;
  // Every prefix that ends with a separator, left to right; a drive root or
  // the server part of a network path fails harmlessly, as an existing
  // folder does.
  for (size_t p = 1; p <= last; ++p) {
    if (!IsSeparator(FileName[p])) continue;
    ::CreateDirectoryW(Wide(FileName.substr(0, p + 1)).c_str(), nullptr);
  }
}

std::int64_t FileSizeOf(const std::string& FileName) {
  if (FileName.empty()) return -1;
  // No access asked for, so a file another program holds open is measured
  // too; a folder does not open without backup semantics.
  HANDLE h = ::CreateFileW(Wide(FileName).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size;
  const bool ok = ::GetFileSizeEx(h, &size) != FALSE;
  ::CloseHandle(h);
  return ok ? static_cast<std::int64_t>(size.QuadPart) : -1;
}

bool SetFileTimes(const std::string& FileName, TDateTime Created, TDateTime Modified, TDateTime Accessed) {
  if (FileName.empty()) return false;
  // Opened for writing: a file that cannot be written (or a folder) fails.
  HANDLE h = ::CreateFileW(Wide(FileName).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME times[3];  // created, accessed, modified
  bool ok = ::GetFileTime(h, &times[0], &times[1], &times[2]) != FALSE;
  if (ok) {
    // A time that does not convert keeps its old value.
    if (Created != -1) DateTimeToFileTime(Created, times[0]);
    if (Accessed != -1) DateTimeToFileTime(Accessed, times[1]);
    if (Modified != -1) DateTimeToFileTime(Modified, times[2]);
    ok = ::SetFileTime(h, &times[0], &times[1], &times[2]) != FALSE;
  }
  ::CloseHandle(h);
  return ok;
}

bool ReadFileAttributes(const std::string& FileName, TkvFileAttributes& Attrs) {
  if (FileName.empty()) return false;
  const DWORD a = ::GetFileAttributesW(Wide(FileName).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  Attrs = FileAttributesFromBits(a);
  return true;
}

bool ApplyFileAttributes(const std::string& FileName, TkvFileAttributes Attrs) {
  if (FileName.empty()) return false;
  const DWORD bits = FileAttributeBits(Attrs) & kAllAttributeBits;
  // The empty set is the "normal" attribute, the only one that stands alone.
  return ::SetFileAttributesW(Wide(FileName).c_str(), bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits) != FALSE;
}

bool SetFileTimesOf(int Fd, TDateTime Modified) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(Fd));
  FILETIME modified;
  if (h == INVALID_HANDLE_VALUE) return false;
  if (Modified == -1 || !DateTimeToFileTime(Modified, modified)) return true;
  return ::SetFileTime(h, nullptr, nullptr, &modified) != FALSE;
}

bool ApplyFileAttributesOf(int Fd, TkvFileAttributes Attrs) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(Fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO info{};
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof info)) return false;
  const DWORD bits = FileAttributeBits(Attrs) & kAllAttributeBits;
  info.FileAttributes = bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits;
  // Times left as they are.
  info.CreationTime.QuadPart = info.LastAccessTime.QuadPart = info.LastWriteTime.QuadPart = info.ChangeTime.QuadPart = 0;
  return ::SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info) != FALSE;
}

}  // namespace kelvora
