#include "kelvora/UpgradeRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kelvora::detail {

TUpgradeRun::TUpgradeRun(std::string ProgramPath)
    : program_(std::move(ProgramPath)), state_(updater::StateFolderFor(program_)) {}

TUpgradeRun::~TUpgradeRun() { Release(); }

TUpgradeRun::TBegin TUpgradeRun::Begin(bool Create) {
  if (lock_ < 0) {
    lock_ = updater::OpenLock(state_, Create);
    if (lock_ < 0) return TBegin::Unwritable;
    if (!updater::TryLock(lock_)) {
      const int err = errno;
      Release();
      errno = err;
      return err == EWOULDBLOCK ? TBegin::Busy : TBegin::Unwritable;
    }
  }
  recovered_ = updater::Recover(state_, program_, nullptr);
  return TBegin::Ok;
}

bool TUpgradeRun::Stage(const std::string& Final) {
  const std::string lines = PartNameOf(Final) + "\n" + DownloadNameOf(Final) + "\n";
  const int fd = ::open(updater::StagingPath(state_).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                        0600);
  if (fd < 0) return false;
  const bool ok = ::write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size()) && ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  errno = ok ? 0 : (err != 0 ? err : ENOSPC);
  return ok;
}

bool TUpgradeRun::Commit(const std::vector<updater::TQueueEntry>& Entries) {
  std::string text;
  if (!updater::FormatQueue(Entries, text)) {
    errno = EINVAL;
    return false;
  }
  return updater::WriteFileDurably(updater::QueuePath(state_), text);
}

void TUpgradeRun::Discard() {
  if (lock_ < 0) return;  // only the holder of the lock removes files
  ::unlink(updater::QueuePath(state_).c_str());
  updater::RemoveStaged(state_);
  Release();
}

void TUpgradeRun::Release() {
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

std::string PartNameOf(const std::string& Final) { return Final + updater::kPartSuffix; }
std::string DownloadNameOf(const std::string& Final) { return Final + updater::kDownloadSuffix; }

bool CreatePart(const std::string& Part) {
  if (::unlink(Part.c_str()) != 0 && errno != ENOENT) return false;
  const int fd = ::open(Part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool RemoveForeignDownload(const std::string& Download) {
  return ::unlink(Download.c_str()) == 0 || errno == ENOENT;
}

bool CompleteDownload(const std::string& Part, const std::string& Download) {
  const int fd = ::open(Part.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  bool ok = fd >= 0;
  if (ok) {
    // A full disk or an I/O error of delayed writes shows here at the latest.
    ok = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    errno = err;
  }
  if (ok && ::rename(Part.c_str(), Download.c_str()) == 0) return true;
  const int err = errno;
  ::unlink(Part.c_str());
  errno = err;
  return false;
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
