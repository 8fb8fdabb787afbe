// The engine's system-specific file calls and the run's file steps on
// Linux: descriptors, O_NOFOLLOW, fsync.
#include "kelvora/FileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "kelvora/UpgradeRun.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

bool IsFolder(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& Path) { return ::access(Path.c_str(), F_OK) == 0; }

bool MakePrivateFolder(const std::string& Path) { return ::mkdir(Path.c_str(), 0700) == 0 || errno == EEXIST; }

bool AppendDurably(const std::string& Path, const std::string& Text) {
  // A record of the state folder: through its checked descriptor.
  return updater::AppendRecord(Path, Text);
}

std::string ResolvedPath(const std::string& Path) {
  char* resolved = ::realpath(Path.c_str(), nullptr);
  if (resolved == nullptr) return {};
  std::string out = resolved;
  std::free(resolved);
  return out;
}

std::int64_t FileSize(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool ReadInChunks(const std::string& Path, const std::function<bool(const char*, std::size_t)>& Chunk) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[64 * 1024];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0)
    if (!Chunk(buf, static_cast<size_t>(n))) break;
  ::close(fd);
  return n >= 0;
}

std::int64_t ResumablePartSize(const std::string& Part) {
  // Non-blocking: a FIFO planted at the name does not hang the open.
  const int fd = ::open(Part.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
  ::close(fd);
  return ours ? static_cast<std::int64_t>(st.st_size) : -1;
}

void RemoveOldUpdater(const std::string& Path) { ::unlink(Path.c_str()); }

bool HeldWhileRunning(const std::string&) { return false; }

void CloseLock(int Fd) {
  if (Fd >= 0) ::close(Fd);
}

bool RemoveForeignDownload(const std::string& Download) {
  return ::unlink(Download.c_str()) == 0 || errno == ENOENT;
}

bool CanWriteFolder(const std::string& Folder) {
  std::string probe = Folder + (Folder.empty() || Folder.back() != '/' ? "/" : "") + ".kelvora-probe-XXXXXX";
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

}  // namespace kelvora::detail
