#include "../FileMoves.h"
#include "../Transaction.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kelvora::updater {

namespace {
constexpr const char* kDosAttribXattr = "user.DOSATTRIB";

// The process's umask, read without changing it where the kernel tells it.
mode_t CurrentUmask() {
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return static_cast<mode_t>(mask & 0777);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}
}  // namespace

bool TakesOverMode(const std::string& Target) {
  struct stat old {};
  return ::lstat(Target.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid();
}

bool MoveOver(const std::string& Download, const std::string& Target,
              const std::function<void(const std::string&)>& Settle, const std::string& Backup) {
  struct stat src {};
  if (::lstat(Download.c_str(), &src) != 0) return false;
  if (!S_ISREG(src.st_mode)) {
    errno = EINVAL;
    return false;
  }
  // A download is written private to the user; one that belongs to somebody
  // else, or that others could have written to, is not what was checked.
  if (src.st_uid != ::geteuid() || (src.st_mode & 022) != 0) {
    errno = EPERM;
    return false;
  }
  struct stat old {};
  if (TakesOverMode(Target) && ::lstat(Target.c_str(), &old) == 0)
    ::chmod(Download.c_str(), old.st_mode & 07777);
  else
    ::chmod(Download.c_str(), 0666 & ~CurrentUmask());  // a new file, as the user's files are made
  if (Settle) Settle(Download);
  if (!Backup.empty() && ::lstat(Target.c_str(), &old) == 0) {
    // A second name for the old file, so that Target is never missing; where
    // the file system has no hard links, a rename leaves it missing for a
    // moment (the journal covers that).
    if (::link(Target.c_str(), Backup.c_str()) == 0) {
      MaybeKillIn("backup");
      if (::rename(Download.c_str(), Target.c_str()) == 0) return true;
      const int err = errno;
      ::unlink(Backup.c_str());
      errno = err;
      return false;
    }
    if (::rename(Target.c_str(), Backup.c_str()) != 0) return false;
    if (::rename(Download.c_str(), Target.c_str()) == 0) return true;
    const int err = errno;
    ::rename(Backup.c_str(), Target.c_str());
    errno = err;
    return false;
  }
  return ::rename(Download.c_str(), Target.c_str()) == 0;
}

bool SetAttributes(const std::string& Path, std::uint32_t Bits) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  const mode_t before = st.st_mode & 07777;
  const mode_t wanted = (Bits & 0x1) ? before & static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH)) : before | S_IWUSR;
  // A user attribute can only be written to a writable file: the owner's
  // write bit is given first and taken away last.
  mode_t current = before;
  if (!(current & S_IWUSR)) {
    if (::chmod(Path.c_str(), current | S_IWUSR) != 0) return false;
    current |= S_IWUSR;
  }
  int rc;
  if (Bits != 0) {
    char text[16];
    const int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(Bits));
    rc = ::setxattr(Path.c_str(), kDosAttribXattr, text, static_cast<size_t>(len), 0);
  } else {
    rc = ::removexattr(Path.c_str(), kDosAttribXattr);
    if (rc != 0 && errno == ENODATA) rc = 0;
  }
  const bool xattrOk = rc == 0 || errno == ENOTSUP || errno == EOPNOTSUPP;
  const bool modeOk = wanted == current || ::chmod(Path.c_str(), wanted) == 0;
  return xattrOk && modeOk;
}

bool MakeExecutable(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  const mode_t mode = st.st_mode & 07777;
  const mode_t exec = ((mode & S_IRUSR) ? S_IXUSR : 0) | ((mode & S_IRGRP) ? S_IXGRP : 0) |
                      ((mode & S_IROTH) ? S_IXOTH : 0) | S_IXUSR;
  return (mode | exec) == mode || ::chmod(Path.c_str(), mode | exec) == 0;
}

}  // namespace kelvora::updater
