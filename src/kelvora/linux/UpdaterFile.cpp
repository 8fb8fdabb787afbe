#include "kelvora/UpdaterFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "kelvora/kvUtils.h"
#include "platform/Process.h"
#include "updater/Transaction.h"

namespace kelvora::detail {

namespace {

bool PrivateFolder(int Fd) {
  struct stat st {};
  return ::fstat(Fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

}  // namespace

TUpdaterFile::~TUpdaterFile() {
  if (Dir >= 0) ::close(static_cast<int>(Dir));
}

bool CanRunProgramsIn(const std::string& Folder, std::size_t Size) {
  const int fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct statvfs vfs {};
  const bool ok = PrivateFolder(fd) && ::fstatvfs(fd, &vfs) == 0 && (vfs.f_flag & ST_NOEXEC) == 0 &&
                  static_cast<unsigned long long>(vfs.f_bavail) * vfs.f_frsize >= Size;
  ::close(fd);
  return ok;
}

std::string PathIdentity(const std::string& ProgramPath) { return ProgramPath; }

bool WriteUpdaterFile(const std::string& Folder, const std::string& Name, const std::string& Program,
                      TUpdaterFile& File) {
  File.Name = Name;
  File.Path = Folder + (Folder.empty() || Folder.back() != '/' ? "/" : "") + Name;
  const char* name = File.Name.c_str();
  const int dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  File.Dir = dir;
  if (dir < 0) return false;
  if (!PrivateFolder(dir)) {
    errno = EPERM;
    return false;
  }
  if (Program.empty()) {
    errno = ENOEXEC;
    return false;
  }
  ::unlinkat(dir, name, 0);
  const int fd = ::openat(dir, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (fd < 0) return false;
  bool ok = updater::WriteAll(fd, Program.data(), Program.size()) &&
            ::fchmod(fd, 0700) == 0 && ::fsync(fd) == 0;
  const int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok) return true;
  ::unlinkat(dir, name, 0);
  errno = err != 0 ? err : EIO;
  return false;
}

int StartUpdater(TUpdaterFile& File, const std::vector<std::string>& Args, int LockFd) {
  // Started by descriptor: the name is looked up in the folder that was
  // checked when the file was written, and must still be the regular file
  // of this user's written there (the folder is nobody else's to change).
  struct stat written {};
  const int dirFd = static_cast<int>(File.Dir);
  if (dirFd < 0 || !PrivateFolder(dirFd) || ::fstatat(dirFd, File.Name.c_str(), &written, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(written.st_mode) || written.st_uid != ::geteuid()) {
    errno = EPERM;
    return -1;
  }
  const std::vector<std::string> env = {"KELVORA_APP_PID=" + std::to_string(::getpid())};
  return platform::SpawnProgramIn(dirFd, File.Name, Args, LockFd, env);
}

void RemoveUpdaterFile(TUpdaterFile& File) {
  if (File.Dir >= 0) ::unlinkat(static_cast<int>(File.Dir), File.Name.c_str(), 0);
}

}  // namespace kelvora::detail
