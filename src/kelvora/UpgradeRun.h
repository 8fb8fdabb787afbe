// One upgrade run of the engine as a transaction: the program's upgrade lock,
// the record of every file the run writes, the step that makes a download
// complete, the commit of the queue, and the removal of everything the run
// wrote when it ends without installing.
#pragma once

#include <string>
#include <vector>

#include "updater/Transaction.h"

namespace kelvora::detail {

class TUpgradeRun {
 public:
  enum class TBegin { Ok, Busy, Unwritable, Untrusted };

  explicit TUpgradeRun(std::string ProgramPath);
  ~TUpgradeRun();  // lets go of the lock; the files stay
  TUpgradeRun(const TUpgradeRun&) = delete;
  TUpgradeRun& operator=(const TUpgradeRun&) = delete;

  // Takes the lock (Create: making the state folder when missing), then
  // (with Recover) settles an install an interrupted updater left (forward
  // when it was confirmed, back otherwise), drops a queue no updater began
  // and removes what an unfinished run left. Busy: another process holds
  // the lock. Untrusted: the state folder is a link, or not a folder of this
  // user's alone.
  TBegin Begin(bool Create, bool Recover = true);
  updater::TRecovered Recovered() const { return recovered_; }
  // The recovery put the program's own file back: the running process is
  // the release that was undone.
  bool ProgramRestored() const { return programRestored_; }
  const std::string& StateFolder() const { return state_; }

  // Records the part and download names of Final before the file is
  // created; false (with errno) when the record cannot be written.
  bool Stage(const std::string& Final);
  // The queue: from now on the upgrade is installed, whoever completes it.
  bool Commit(const std::vector<updater::TQueueEntry>& Entries, int ConfirmSeconds);
  // Removes what this run wrote (downloads, parts, an uncommitted or
  // committed queue) and lets go of the lock.
  void Discard();
  // The lock's descriptor, for handing it over to the updater; -1 without.
  int LockFd() const { return lock_; }
  void Release();

 private:
  std::string program_, state_;
  int lock_ = -1;
  updater::TRecovered recovered_ = updater::TRecovered::Nothing;
  bool programRestored_ = false;
};

// Whether another process holds the upgrade lock of the program at
// ProgramPath right now (tried without waiting, let go at once).
bool UpgradeRunningElsewhere(const std::string& ProgramPath);

std::string PartNameOf(const std::string& Final);      // Final + ".uPART"
std::string DownloadNameOf(const std::string& Final);  // Final + ".uTMP"

// Removes a file at Download that this run did not write (an older build's
// left-over without a record, or someone else's): only what the run itself
// downloads may be queued. False (with errno) when it stays.
bool RemoveForeignDownload(const std::string& Download);

// Whether a file can be created in Folder (tried with a file of its own,
// removed again); errno tells why not.
bool CanWriteFolder(const std::string& Folder);

}  // namespace kelvora::detail
