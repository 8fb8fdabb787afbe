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

namespace {
int OpenStateFolder(const std::string& StateFolder, bool Create);
}  // namespace

// Records are written only through a descriptor of their folder, opened and
// checked as a state folder: never into the target of a link planted at its
// name, nor into a folder somebody else can write to.
bool AppendRecord(const std::string& Path, const std::string& Text) {
  const TFolder dir = OpenFolder(FolderPart(Path), true);
  if (dir == kNoFolder) return false;
  const int fd = ::openat(static_cast<int>(dir), NamePart(Path).c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  const bool ok = fd >= 0 && WriteAll(fd, Text.data(), Text.size()) && ::fsync(fd) == 0;
  const int err = errno;
  if (fd >= 0) ::close(fd);
  CloseFolder(dir);
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
  // Through the folder as checked: a link planted at its name (or at the
  // record's) is never written through.
  const TFolder folder = OpenFolder(FolderPart(Path), true);
  if (folder == kNoFolder) return false;
  const int dir = static_cast<int>(folder);
  const std::string name = NamePart(Path), temp = name + ".new";
  ::unlinkat(dir, temp.c_str(), 0);
  const int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  bool ok = fd >= 0 && WriteAll(fd, Text.data(), Text.size()) && ::fsync(fd) == 0;
  int err = errno;
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0) {
    ::fsync(dir);
    CloseFolder(folder);
    return true;
  }
  if (ok) err = errno;
  if (fd >= 0) ::unlinkat(dir, temp.c_str(), 0);
  CloseFolder(folder);
  errno = err;
  return false;
}

bool CreateFileDurably(const std::string& Path, const std::string& Text) {
  // A name of this process's own: two writers never share a temporary file.
  const std::string temp = Path + "." + std::to_string(::getpid()) + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, Text.data(), Text.size()) && ::fsync(fd) == 0;
  int err = errno;
  ok = ::close(fd) == 0 && ok;
  if (ok) {
    // A link is made only where nothing is: the complete file appears at
    // once, and an existing one is never replaced.
    ok = ::link(temp.c_str(), Path.c_str()) == 0;
    err = errno;
  }
  ::unlink(temp.c_str());
  if (ok) SyncFolder(FolderPart(Path));
  errno = ok ? 0 : err;
  return ok;
}

namespace {

bool OwnFile(const struct stat& St) { return S_ISREG(St.st_mode) && St.st_uid == ::geteuid() && St.st_nlink == 1; }

// Fd when it is open on a file of this user's own; else closed, -1 (EPERM).
int KeptWhenOwn(int Fd) {
  struct stat st {};
  if (Fd < 0 || (::fstat(Fd, &st) == 0 && OwnFile(st))) return Fd;
  ::close(Fd);
  errno = EPERM;
  return -1;
}

}  // namespace

TFolder OpenFolder(const std::string& Path, bool Private) {
  std::string path = Path;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (Private ? O_NOFOLLOW : 0));
  if (fd < 0) {
    // A link (ELOOP) where a private folder must be.
    if (Private && (errno == ELOOP || errno == ENOTDIR)) errno = EPERM;
    return kNoFolder;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = ENOTDIR;
    return kNoFolder;
  }
  if (Private && (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0)) {
    ::close(fd);
    errno = EPERM;
    return kNoFolder;
  }
  return fd;
}

void CloseFolder(TFolder Folder) {
  if (Folder >= 0) ::close(static_cast<int>(Folder));
}

int CreateNewIn(TFolder Folder, const std::string& Name) {
  const int fd =
      ::openat(static_cast<int>(Folder), Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  // Made just now, so it is ours; checked all the same, on what was opened.
  return KeptWhenOwn(fd);
}

int OpenOwnIn(TFolder Folder, const std::string& Name) {
  // Non-blocking: a FIFO planted at the name does not hang the open.
  const int fd = ::openat(static_cast<int>(Folder), Name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const int kept = KeptWhenOwn(fd);
  if (kept >= 0) ::fcntl(kept, F_SETFL, ::fcntl(kept, F_GETFL) & ~O_NONBLOCK);
  return kept;
}

bool NamesOwnFile(TFolder Folder, const std::string& Name, int Fd) {
  struct stat named {}, open {};
  return ::fstatat(static_cast<int>(Folder), Name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(Fd, &open) == 0 && OwnFile(named) && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool RemoveOwnIn(TFolder Folder, const std::string& Name) {
  struct stat st {};
  if (::fstatat(static_cast<int>(Folder), Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    errno = EPERM;
    return false;
  }
  return ::unlinkat(static_cast<int>(Folder), Name.c_str(), 0) == 0 || errno == ENOENT;
}

bool SyncAndRenameIn(TFolder Folder, int Fd, const std::string& From, const std::string& To) {
  const int dir = static_cast<int>(Folder);
  if (::fsync(Fd) != 0 || ::renameat(dir, From.c_str(), dir, To.c_str()) != 0) return false;
  ::fsync(dir);
  return true;
}

int DuplicateFile(int Fd) { return ::fcntl(Fd, F_DUPFD_CLOEXEC, 0); }

void CloseFile(int Fd) {
  if (Fd >= 0) ::close(Fd);
}

namespace {

// The state folder opened as itself: its parent by path, then its own name
// beneath that descriptor without following a link, checked through the
// descriptor it was opened as (a real folder of this user's that nobody else
// can write to). Create makes it first when missing. -1 with errno (EPERM
// for a folder that is not to be trusted).
int OpenStateFolder(const std::string& StateFolder, bool Create) {
  std::string path = StateFolder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 >= path.size()) {
    errno = EINVAL;
    return -1;
  }
  const std::string parentPath = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  const int parent = ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return -1;
  if (Create && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
    const int err = errno;
    ::close(parent);
    errno = err;
    return -1;
  }
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const int err = errno;
  ::close(parent);
  if (fd < 0) {
    // A link (ELOOP) or anything else that is not a folder at that name.
    errno = (err == ELOOP || err == ENOTDIR) ? EPERM : err;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

}  // namespace

int OpenLock(const std::string& StateFolder, bool Create) {
  const int dir = OpenStateFolder(StateFolder, Create);
  if (dir < 0) return -1;
  // The lock is made in the folder just checked, whatever its path leads to now.
  const int fd = ::openat(dir, "lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  const int err = errno;
  ::close(dir);
  errno = err;
  return fd;
}

bool TryLock(int Fd) {
  int rc;
  while ((rc = ::flock(Fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return rc == 0;
}

bool StateFolderIsSafe(const std::string& StateFolder) {
  errno = 0;
  const int fd = OpenStateFolder(StateFolder, false);
  if (fd < 0) return false;
  ::close(fd);
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

#ifdef KELVORA_FAULT_HOOKS
void MaybeKillAfter(int Moves) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_AFTER");
  if (v != nullptr && *v != '\0' && std::atoi(v) == Moves) ::kill(::getpid(), SIGKILL);
}

void MaybeKillIn(const char* Step) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_IN");
  if (v != nullptr && std::strcmp(v, Step) == 0) ::kill(::getpid(), SIGKILL);
}

#endif

}  // namespace kelvora::updater
