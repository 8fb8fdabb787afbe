// Folders, file sizes, attributes and times on Linux: read-only as the
// write permission bits, the whole set in the user.DOSATTRIB extended
// attribute.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>

#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"
#include "utils/OpenFileCalls.h"

namespace kelvora {

namespace {

constexpr const char* kDosAttribXattr = "user.DOSATTRIB";

// A date-time through the FAT packed form (DateTimeToFileDate, then
// DosDateTimeToFileTime): years 1980 to 2107, seconds in two-second steps.
// Date-times here are local (the HTTP dates are converted to local time when
// they are parsed), so the fields are read as local time: taking them as UTC
// would shift every file time by the zone's offset.
bool DateTimeToFatTime(TDateTime T, struct timespec& Out) {
  utils::TDateTimeParts p{};
  if (!utils::TryDecodeDateTime(T, p)) return false;
  if (p.Year < 1980 || p.Year > 2107) return false;
  struct tm fields {};
  fields.tm_year = p.Year - 1900;
  fields.tm_mon = p.Month - 1;
  fields.tm_mday = p.Day;
  fields.tm_hour = p.Hour;
  fields.tm_min = p.Min;
  fields.tm_sec = p.Sec & ~1;
  fields.tm_isdst = -1;
  const time_t t = ::mktime(&fields);
  if (t == static_cast<time_t>(-1)) return false;
  Out.tv_sec = t;
  Out.tv_nsec = 0;
  return true;
}

}  // namespace

bool FolderExists(const std::string& Name) {
  struct stat st {};
  return !Name.empty() && ::stat(Name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ForceFolders(const std::string& FileName) {
  const size_t last = FileName.rfind('/');
  if (last == std::string::npos) return;
  // Every prefix that ends with a separator, left to right.
  for (size_t p = FileName.find('/'); p != std::string::npos && p <= last; p = FileName.find('/', p + 1)) {
    if (p == 0) continue;  // the root
    const std::string prefix = FileName.substr(0, p + 1);
    ::mkdir(prefix.c_str(), 0777);  // failures, such as an existing folder, are ignored
  }
}

std::int64_t FileSizeOf(const std::string& FileName) {
  struct stat st {};
  if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool SetFileTimes(const std::string& FileName, TDateTime Created, TDateTime Modified, TDateTime Accessed) {
  (void)Created;  // Linux keeps no settable creation time
  // Opened for writing, as the system does: a file that cannot be written
  // (or a folder) fails.
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // access time kept
  times[1] = times[0];            // modification time kept
  if (Accessed != -1) DateTimeToFatTime(Accessed, times[0]);
  if (Modified != -1) DateTimeToFatTime(Modified, times[1]);
  const bool ok = ::futimens(fd, times) == 0;
  ::close(fd);
  return ok;
}

bool ReadFileAttributes(const std::string& FileName, TkvFileAttributes& Attrs) {
  struct stat st {};
  if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0) return false;
  std::uint32_t bits = 0;
  char text[32] = {};
  const ssize_t n = ::getxattr(FileName.c_str(), kDosAttribXattr, text, sizeof text - 1);
  if (n > 0) bits = static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0));
  TkvFileAttributes a = FileAttributesFromBits(bits);
  if (!(st.st_mode & S_IWUSR))
    a.Include(atrReadOnly);
  else
    a.Exclude(atrReadOnly);
  Attrs = a;
  return true;
}

bool ApplyFileAttributes(const std::string& FileName, TkvFileAttributes Attrs) {
  struct stat st {};
  if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0) return false;
  // Read-only is the absence of the write permission bits; without it the
  // owner may write.
  const mode_t before = st.st_mode & 07777;
  mode_t mode = before;
  if (Attrs.Contains(atrReadOnly))
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  else
    mode |= S_IWUSR;
  // A user extended attribute can only be written to a writable file: the
  // owner's write bit is given first and taken away last.
  mode_t current = before;
  if (!(current & S_IWUSR)) {
    if (::chmod(FileName.c_str(), current | S_IWUSR) != 0) return false;
    current |= S_IWUSR;
  }
  // The whole set, as Windows-compatibility layers keep it.
  const std::uint32_t bits = FileAttributeBits(Attrs);
  int rc;
  if (bits != 0) {
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
    rc = ::setxattr(FileName.c_str(), kDosAttribXattr, text, static_cast<size_t>(len), 0);
  } else {
    rc = ::removexattr(FileName.c_str(), kDosAttribXattr);
    if (rc != 0 && errno == ENODATA) rc = 0;
  }
  // Without extended attributes (or where the file system refuses user
  // attributes) the read-only mapping alone holds.
  const bool xattrOk = rc == 0 || errno == ENOTSUP || errno == EOPNOTSUPP;
  const bool modeOk = mode == current || ::chmod(FileName.c_str(), mode) == 0;
  return xattrOk && modeOk;
}

bool SetFileTimesOf(int Fd, TDateTime Modified) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (Modified != -1) DateTimeToFatTime(Modified, times[1]);
  return ::futimens(Fd, times) == 0;
}

bool ApplyFileAttributesOf(int Fd, TkvFileAttributes Attrs) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0) return false;
  const mode_t mode = Attrs.Contains(atrReadOnly) ? (st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                                                  : (st.st_mode | S_IWUSR);
  const std::uint32_t bits = FileAttributeBits(Attrs);
  int rc;
  if (bits != 0) {
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
    rc = ::fsetxattr(Fd, kDosAttribXattr, text, static_cast<size_t>(len), 0);
  } else {
    rc = ::fremovexattr(Fd, kDosAttribXattr);
    if (rc != 0 && errno == ENODATA) rc = 0;
  }
  const bool xattrOk = rc == 0 || errno == ENOTSUP || errno == EOPNOTSUPP;
  return xattrOk && ((st.st_mode & 07777) == (mode & 07777) || ::fchmod(Fd, mode & 07777) == 0);
}

}  // namespace kelvora
