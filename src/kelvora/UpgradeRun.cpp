#include "kelvora/UpgradeRun.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "kelvora/FileCalls.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

TUpgradeRun::TUpgradeRun(std::string ProgramPath)
    : program_(std::move(ProgramPath)), state_(updater::StateFolderFor(program_)) {}

TUpgradeRun::~TUpgradeRun() { Release(); }

TUpgradeRun::TBegin TUpgradeRun::Begin(bool Create, bool Recover) {
  if (lock_ < 0) {
    lock_ = updater::OpenLock(state_, Create);
    if (lock_ < 0) return errno == EPERM ? TBegin::Untrusted : TBegin::Unwritable;
    // Another instance's probe holds it for a moment only.
    bool locked = updater::TryLock(lock_);
    for (int i = 0; !locked && errno == EWOULDBLOCK && i < 10; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      locked = updater::TryLock(lock_);
    }
    if (!locked) {
      const int err = errno;
      Release();
      errno = err;
      return err == EWOULDBLOCK ? TBegin::Busy : TBegin::Unwritable;
    }
  }
  if (Recover) recovered_ = updater::Recover(state_, program_, &programRestored_);
  return TBegin::Ok;
}

bool TUpgradeRun::Stage(const std::string& Final) {
  return AppendDurably(updater::StagingPath(state_), PartNameOf(Final) + "\n" + DownloadNameOf(Final) + "\n");
}

bool TUpgradeRun::Commit(const std::vector<updater::TQueueEntry>& Entries, int ConfirmSeconds) {
  std::string text;
  if (!updater::FormatQueue(Entries, text, ConfirmSeconds)) {
    errno = EINVAL;
    return false;
  }
  return updater::WriteFileDurably(updater::QueuePath(state_), text);
}

void TUpgradeRun::Discard() {
  if (lock_ < 0) return;  // only the holder of the lock removes files
  updater::RemoveFile(updater::QueuePath(state_));
  updater::RemoveStaged(state_);
  Release();
}

void TUpgradeRun::Release() {
  CloseLock(lock_);
  lock_ = -1;
}

bool UpgradeRunningElsewhere(const std::string& ProgramPath) {
  const int fd = updater::OpenLock(updater::StateFolderFor(ProgramPath), false);
  if (fd < 0) return false;  // no state folder (or none to trust): the run itself will tell
  const bool busy = !updater::TryLock(fd) && errno == EWOULDBLOCK;
  CloseLock(fd);
  return busy;
}

std::string PartNameOf(const std::string& Final) { return Final + updater::kPartSuffix; }
std::string DownloadNameOf(const std::string& Final) { return Final + updater::kDownloadSuffix; }

}  // namespace kelvora::detail
