// The files an upgrade keeps in the program's state folder
// "<program folder>/.<program name>.kelvora/", shared by the engine and the
// updater program:
// - "lock": an advisory lock (flock) held by whoever stages or installs an
//   upgrade of the program; the OS releases it when the holder ends.
// - "staging": every file a run has written (part files and downloads), one
//   absolute path a line, appended before the file is created. What an
//   unfinished run left is removed by the next holder of the lock.
// - "queue": the commit record. Written whole under another name, synced and
//   renamed in once every download is complete; from then on the upgrade is
//   installed, by the updater or, when that is cut short, by the next start
//   of the program or of the updater. Deleted last, after every move is
//   synced to disk.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelvora::updater {

inline constexpr const char* kDownloadSuffix = ".uTMP";  // complete, waiting to be installed
inline constexpr const char* kPartSuffix = ".uPART";     // still being written

std::string StateFolderFor(const std::string& ProgramPath);  // with a trailing "/"
std::string LockPath(const std::string& StateFolder);
std::string StagingPath(const std::string& StateFolder);
std::string QueuePath(const std::string& StateFolder);

// One install step: Download (a complete file) is renamed over Target.
// Setup marks the external setup program to run after the moves.
struct TQueueEntry {
  std::string Download, Target;
  bool Setup = false;
};

// The queue's text: a header line, one "download<TAB>target[<TAB>setup]"
// line per entry, and an end line. Paths holding a tab or a line break
// cannot be written (false).
bool FormatQueue(const std::vector<TQueueEntry>& Entries, std::string& Text);
// Nothing when the file is missing, unreadable or incomplete (no end line):
// an incomplete queue was never committed.
std::optional<std::vector<TQueueEntry>> ReadQueue(const std::string& Path);
// Writes all Size bytes of Data to Fd; false (with errno, ENOSPC for a write
// that takes nothing) when it cannot.
bool WriteAll(int Fd, const char* Data, size_t Size);
// Writes Text to Path through a temporary name with fsync and a synced
// rename; false (with errno) when any step fails, and nothing is left.
bool WriteFileDurably(const std::string& Path, const std::string& Text);

// Opens (creating) the state folder's lock file and locks it. Wait false:
// fails at once with EWOULDBLOCK when another process holds it. Returns the
// descriptor (close-on-exec), or -1 with errno.
int OpenLock(const std::string& StateFolder, bool Create);
bool TryLock(int Fd);

// The state folder is trusted only when it is a real folder owned by this
// user that nobody else can write to.
bool StateFolderIsSafe(const std::string& StateFolder);

// Installs every entry whose download still exists, the program itself last,
// then syncs each touched folder. Entries already installed (their download
// gone) are skipped, so running it again after an interruption completes the
// same install. Failures are reported on stderr and counted.
struct TInstallResult {
  int Moved = 0, Failed = 0;
  std::string SetupProgram;  // the installed setup program, if any
};
TInstallResult Install(const std::vector<TQueueEntry>& Entries, const std::string& ProgramPath);

// Removes what the staging record lists (only names ending in ".uTMP" or
// ".uPART") and then the record itself, which stays while a file it lists
// could not be removed (held open on Windows).
void RemoveStaged(const std::string& StateFolder);
// After an install: the staging record, then the queue, each removal synced.
void CloseInstall(const std::string& StateFolder);

// Crash-safe replay for the holder of the lock: installs a committed queue
// (true when there was one), then removes what an unfinished run left.
bool Recover(const std::string& StateFolder, const std::string& ProgramPath, TInstallResult* Result);

void SyncFolder(const std::string& Folder);
bool LooksLikeProgram(const std::string& Path);  // ELF header or "#!"

// Test hook: KELVORA_UPDATER_KILL_AFTER=<n> makes the install kill its own
// process with SIGKILL right after its n-th rename, before anything else
// (fault injection for crash tests).
void MaybeKillAfter(int Moves);

}  // namespace kelvora::updater
