#include "Transaction.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "FileMoves.h"

namespace kelvora::updater {

namespace {

constexpr const char* kQueueHeader = "kelvora-queue 1";
constexpr const char* kQueueEnd = "end";

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

std::string FolderPart(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string(".") : Path.substr(0, slash + 1);
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

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    lines.push_back(Text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool Exists(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}

}  // namespace

std::string StateFolderFor(const std::string& ProgramPath) {
  const size_t slash = ProgramPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : ProgramPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? ProgramPath : ProgramPath.substr(slash + 1);
  return folder + "." + name + ".kelvora/";
}

std::string LockPath(const std::string& StateFolder) { return StateFolder + "lock"; }
std::string StagingPath(const std::string& StateFolder) { return StateFolder + "staging"; }
std::string QueuePath(const std::string& StateFolder) { return StateFolder + "queue"; }

bool FormatQueue(const std::vector<TQueueEntry>& Entries, std::string& Text) {
  Text = std::string(kQueueHeader) + "\n";
  for (const TQueueEntry& e : Entries) {
    for (const std::string* p : {&e.Download, &e.Target})
      if (p->empty() || (*p)[0] != '/' || p->find_first_of("\t\r\n") != std::string::npos) return false;
    Text += e.Download + "\t" + e.Target + (e.Setup ? "\tsetup" : "") + "\n";
  }
  Text += std::string(kQueueEnd) + "\n";
  return true;
}

std::optional<std::vector<TQueueEntry>> ReadQueue(const std::string& Path) {
  std::string text;
  if (!ReadAll(Path, text)) return std::nullopt;
  const std::vector<std::string> lines = Lines(text);
  if (lines.size() < 2 || lines.front() != kQueueHeader || lines.back() != kQueueEnd) return std::nullopt;
  std::vector<TQueueEntry> entries;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& l = lines[i];
    const size_t tab = l.find('\t');
    if (tab == std::string::npos) return std::nullopt;
    TQueueEntry e;
    e.Download = l.substr(0, tab);
    e.Target = l.substr(tab + 1);
    const size_t flag = e.Target.find('\t');
    if (flag != std::string::npos) {
      e.Setup = e.Target.substr(flag + 1) == "setup";
      e.Target.resize(flag);
    }
    if (e.Download.empty() || e.Download[0] != '/' || e.Target.empty() || e.Target[0] != '/') return std::nullopt;
    entries.push_back(std::move(e));
  }
  return entries;
}

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

TInstallResult Install(const std::vector<TQueueEntry>& Entries, const std::string& ProgramPath) {
  TInstallResult result;
  // The program itself last: until it is replaced, a start runs the old
  // build, which completes the install before anything else.
  std::vector<const TQueueEntry*> order;
  for (const auto& e : Entries)
    if (e.Target != ProgramPath) order.push_back(&e);
  for (const auto& e : Entries)
    if (e.Target == ProgramPath) order.push_back(&e);
  std::set<std::string> folders;
  MaybeKillAfter(0);
  for (const TQueueEntry* e : order) {
    if (!Exists(e->Download)) continue;  // installed before an interruption
    const bool replacing = TakesOverMode(e->Target);
    const auto settle = [&](const std::string& Download) {
      if (e->Setup) {
        SetAttributes(Download, kAttrHidden | kAttrArchive);
        MakeExecutable(Download);
      } else {
        SetAttributes(Download, kAttrArchive);
        if ((!replacing && LooksLikeProgram(Download)) || e->Target == ProgramPath) MakeExecutable(Download);
      }
    };
    if (!MoveOver(e->Download, e->Target, settle)) {
      std::fprintf(stderr, "AppUpdate: could not move %s: %s\n", e->Download.c_str(), std::strerror(errno));
      ++result.Failed;
      continue;
    }
    MaybeKillAfter(result.Moved + 1);
    folders.insert(FolderPart(e->Target));
    ++result.Moved;
    if (e->Setup) result.SetupProgram = e->Target;
  }
  for (const std::string& f : folders) SyncFolder(f);
  return result;
}

void RemoveStaged(const std::string& StateFolder) {
  std::string text;
  const std::string record = StagingPath(StateFolder);
  if (!ReadAll(record, text)) return;
  for (const std::string& path : Lines(text)) {
    if (path.empty() || path[0] != '/' || !(EndsWith(path, kDownloadSuffix) || EndsWith(path, kPartSuffix))) continue;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
  ::unlink(record.c_str());
  SyncFolder(StateFolder);
}

void CloseInstall(const std::string& StateFolder) {
  // Every download of the record has been renamed away: only the record goes.
  ::unlink(StagingPath(StateFolder).c_str());
  ::unlink(QueuePath(StateFolder).c_str());
  SyncFolder(StateFolder);
}

bool Recover(const std::string& StateFolder, const std::string& ProgramPath, TInstallResult* Result) {
  bool installed = false;
  if (auto queue = ReadQueue(QueuePath(StateFolder))) {
    TInstallResult r = Install(*queue, ProgramPath);
    if (Result != nullptr) *Result = r;
    CloseInstall(StateFolder);
    installed = true;
  } else {
    ::unlink(QueuePath(StateFolder).c_str());  // never committed: not an install
  }
  RemoveStaged(StateFolder);
  return installed;
}

}  // namespace kelvora::updater
