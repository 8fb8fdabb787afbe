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

std::string WithSlash(std::string Folder) {
  if (Folder.empty() || Folder.back() != '/') Folder += '/';
  return Folder;
}

}  // namespace

TUpdaterFile::~TUpdaterFile() {
  if (Dir >= 0) ::close(Dir);
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

std::string ChooseUpdaterFolder(const std::string& StateFolder, std::size_t Size) {
  const std::string temp = GetTempFolder();
  if (temp != CurrentFolder() && CanRunProgramsIn(temp, Size)) return WithSlash(temp);
  if (CanRunProgramsIn(StateFolder, Size)) return WithSlash(StateFolder);
  return std::string();
}

bool WriteUpdaterFile(const std::string& Folder, const std::string& Program, TUpdaterFile& File) {
  File.Path = WithSlash(Folder) + kUpdaterFileName;
  File.Dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (File.Dir < 0) return false;
  if (!PrivateFolder(File.Dir)) {
    errno = EPERM;
    return false;
  }
  if (Program.empty()) {
    errno = ENOEXEC;
    return false;
  }
  ::unlinkat(File.Dir, kUpdaterFileName, 0);
  const int fd = ::openat(File.Dir, kUpdaterFileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (fd < 0) return false;
  bool ok = updater::WriteAll(fd, Program.data(), Program.size()) &&
            ::fchmod(fd, 0700) == 0 && ::fsync(fd) == 0;
  const int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok) return true;
  ::unlinkat(File.Dir, kUpdaterFileName, 0);
  errno = err != 0 ? err : EIO;
  return false;
}

int StartUpdater(const TUpdaterFile& File, const std::vector<std::string>& Args, int LockFd) {
  // Started by its path (a script must be able to open itself), once the
  // path is seen to lead to the very file written in the folder checked.
  struct stat written {}, byPath {}, dir {}, dirByPath {};
  const std::string folder = File.Path.substr(0, File.Path.rfind('/') + 1);
  if (File.Dir < 0 || ::fstatat(File.Dir, kUpdaterFileName, &written, AT_SYMLINK_NOFOLLOW) != 0 ||
      ::lstat(File.Path.c_str(), &byPath) != 0 || ::fstat(File.Dir, &dir) != 0 ||
      ::lstat(folder.c_str(), &dirByPath) != 0 || written.st_ino != byPath.st_ino ||
      written.st_dev != byPath.st_dev || dir.st_ino != dirByPath.st_ino || dir.st_dev != dirByPath.st_dev ||
      !S_ISREG(byPath.st_mode) || !S_ISDIR(dirByPath.st_mode)) {
    errno = EPERM;
    return -1;
  }
  const std::vector<std::string> env = {"KELVORA_APP_PID=" + std::to_string(::getpid())};
  return platform::SpawnProgram(File.Path, Args, LockFd, env);
}

}  // namespace kelvora::detail
