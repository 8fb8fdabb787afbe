// The transaction's files on POSIX: descriptors, fsync of files and
// folders, flock.
#include "../TransactionFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "../Transaction.h"

namespace kelvora::updater {

const char kPathSeparator = '/';
bool IsPathSeparator(char C) { return C == '/'; }
bool IsAbsolutePath(const std::string& Path) { return !Path.empty() && Path[0] == '/'; }

bool Exists(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveFile(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

bool RenameOver(const std::string& From, const std::string& To) { return ::rename(From.c_str(), To.c_str()) == 0; }

bool AppendRecord(const std::string& Path, const std::string& Text) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, Text.data(), Text.size()) && ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  errno = ok ? 0 : err;
  return ok;
}

bool ReadAll(const std::string& Path, std::string& Text) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
  if (fd < 0) return false;
  Text.clear();
  char buf[16384];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      Text.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}


std::string FolderPart(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string(".") : Path.substr(0, slash + 1);
}

bool SamePath(const std::string& A, const std::string& B) { return A == B; }

void SyncFolder(const std::string& Folder) {
  const int fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool WriteAll(int Fd, const char* Data, size_t Size) {
  size_t done = 0;
  while (done < Size) {
    const ssize_t n = ::write(Fd, Data + done, Size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      errno = ENOSPC;
      return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool WriteFileDurably(const std::string& Path, const std::string& Text) {
  const std::string temp = Path + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, Text.data(), Text.size()) && ::fsync(fd) == 0;
  const int saved = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temp.c_str(), Path.c_str()) == 0) {
    SyncFolder(FolderPart(Path));
    return true;
  }
  const int err = ok ? errno : saved;
  ::unlink(temp.c_str());
  errno = err;
  return false;
}

int OpenLock(const std::string& StateFolder, bool Create) {
  if (Create && ::mkdir(StateFolder.c_str(), 0700) != 0 && errno != EEXIST) return -1;
  if (!StateFolderIsSafe(StateFolder)) {
    if (errno == 0) errno = EPERM;
    return -1;
  }
  return ::open(LockPath(StateFolder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

bool TryLock(int Fd) {
  int rc;
  while ((rc = ::flock(Fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

bool StateFolderIsSafe(const std::string& StateFolder) {
  struct stat st {};
  errno = 0;
  if (::lstat(StateFolder.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    errno = EPERM;
    return false;
  }
  return true;
}

bool LooksLikeProgram(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char head[4] = {};
  const ssize_t n = ::read(fd, head, sizeof head);
  ::close(fd);
  return (n >= 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0) || (n >= 2 && head[0] == '#' && head[1] == '!');
}

void MaybeKillAfter(int Moves) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_AFTER");
  if (v != nullptr && *v != '\0' && std::atoi(v) == Moves) ::kill(::getpid(), SIGKILL);
}

void MaybeKillIn(const char* Step) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_IN");
  if (v != nullptr && std::strcmp(v, Step) == 0) ::kill(::getpid(), SIGKILL);
}

}  // namespace kelvora::updater
