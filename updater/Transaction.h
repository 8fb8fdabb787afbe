// The upgrade protocol: how an upgrade moves from downloads to installed
// files, and how every way out of it ends sound. Shared by the engine (its
// half in src/kelvora/KelvoraTransaction.cpp and KelvoraDownload.cpp) and the
// updater program (updater/Updater.cpp).
//
// Records of the program's state folder "<program folder>/.<program name>.kelvora/"
// (0700, the user's own, used only through a checked descriptor):
// - "lock": an advisory lock (flock) held by whoever stages or installs an
//   upgrade of the program; the OS releases it when the holder ends.
// - "staging": every file a run has written (part files and downloads), one
//   absolute path a line, appended before the file is created. What an
//   unfinished run left is removed by the next holder of the lock.
// - "resume": the parts kept for the next run of their release (ResumeRecord.h).
// - "installed-release": the release last handed over and its outcome
//   (attempt, confirmed, failed; the engine's ReleaseRecord.h).
// - "queue": the commit record. Written whole under another name, synced and
//   renamed in once every download is complete; from then on the upgrade is
//   installed, by the updater or, when that is cut short, by the next start
//   of the program or of the updater. Deleted last, after every move is
//   synced to disk. A queue that is there but cannot be read (a bad line, a
//   confirmation time out of range) is a failure, never "not committed".
// - "journal": one line per move, appended and synced before the move; its
//   existence means the install has begun and is finished or undone.
// - "confirmed": the decision record. Created exclusively (a synced file
//   linked in under the name; never replaced), by the restarted program
//   when it confirms its start ("kelvora-confirmed 1") or by whoever undoes
//   the install ("kelvora-undo 1"): whichever is first wins and the other
//   learns it from the record. The name is the one updaters of earlier
//   releases wait for.
// - "failed": why the last install failed, for the next start to tell once:
//   the file, the cause in words, and what is on disk now (the previous
//   version, a mix of both, or what a setup program left).
// - "undo-at-login": a copy of the updater that a login entry of the user's
//   session starts while a confirmation is awaited (LoginUndo.h).
//
// The states of an upgrade, and the function that moves it on:
//   idle --(engine: TUpgradeRun::Begin takes the lock)--> staging
//   staging --(engine: CommitRun writes "queue"; RecordHandOver writes the
//             attempt; LaunchUpdater hands the lock to the updater)--> committed
//   staging --(cancel, failure, crash: DeleteTempFiles / RemoveStaged)--> idle
//   committed --(updater: Install, journal line by line)--> installed
//   committed --(unreadable or empty queue: DiscardQueue + WriteFailure)--> idle
//   installed --(updater: AddUndoAtLogin, StartProgram, WaitForConfirmation)--> awaiting
//   awaiting --(program: ConfirmUpgradeNow -> Decide(Confirmed))--> confirmed
//   awaiting --(updater or recovery: Decide(Undo), WriteFailure, RollBack)--> undone
//   confirmed --(FinishInstall: backups, journal, queue, decision, login entry)--> idle
//   undone --(RollBack complete: journal, decision, login entry removed)--> idle
//   undone --(a file cannot be put back: nothing started)--> undone, retried
//            by the next holder of the lock (ResolveInterruptedInstall)
// An updater killed anywhere leaves records that the next holder of the lock
// (a start of the program, the next updater, the login's copy) follows with
// Recover / ResolveInterruptedInstall: forward only with a confirmation,
// back otherwise.
//
// Invariants:
//  1. The queue is complete and synced before it appears under its name.
//  2. A journal line is on disk before its move; a backup is never deleted
//     while its journal line may still be needed.
//  3. The decision record is created before any backup is deleted
//     (FinishInstall) and before any file is put back (RollBack); it is
//     removed only after the journal, so a journal never outlives its
//     decision unnoticed.
//  4. A confirmed install is never undone; an install decided for undo is
//     never confirmed (ConfirmUpgradeNow then returns false).
//  5. No program is started on a mixed set: when a file cannot be put back,
//     the journal and the undo decision stay, the failure record names the
//     file, and nothing is started; the next holder of the lock tries again.
//  6. A restart with the restart parameter follows only an install that
//     moved at least one file.
//  7. A file a run writes is in "staging" before it exists, and is created
//     new (O_EXCL, never through a link) through the checked folder's
//     descriptor; records are written only through the state folder's.
//  8. The attempt is in "installed-release" before the updater starts: an
//     attempt whose outcome was never written counts as failed, and a failed
//     release is never installed again without a person's yes.
//  9. While a confirmation is awaited, the login entry exists; it goes only
//     once the install is settled (finished, or wholly undone).
// 10. Only the holder of "lock" changes an install's files or records.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvora::updater {

inline constexpr const char* kDownloadSuffix = ".uTMP";  // complete, waiting to be installed
inline constexpr const char* kPartSuffix = ".uPART";     // still being written
inline constexpr const char* kPatchSuffix = ".uDIFF";    // a patch the new file is built from
inline constexpr const char* kBackupSuffix = ".uOLD";    // a replaced file, until the install is confirmed

std::string StateFolderFor(const std::string& ProgramPath);  // with a trailing "/"
std::string LockPath(const std::string& StateFolder);
std::string StagingPath(const std::string& StateFolder);
std::string QueuePath(const std::string& StateFolder);
std::string JournalPath(const std::string& StateFolder);
std::string ConfirmPath(const std::string& StateFolder);
std::string FailurePath(const std::string& StateFolder);
inline constexpr const char* kConfirmName = "confirmed";
// The time a restarted program may be given to confirm its start, in
// seconds: a queue with a time outside this range is neither written nor
// read. The engine checks ConfirmTimeout against it.
inline constexpr int kMinConfirmSeconds = 1;
inline constexpr int kMaxConfirmSeconds = 3600;

// One install step: Download (a complete file) is renamed over Target.
// Setup marks the external setup program to run after the moves.
struct TQueueEntry {
  std::string Download, Target;
  bool Setup = false;
};

// The queue's text: a header line, "confirm<TAB><seconds>" when the
// restarted program must confirm its start within that time, one
// "download<TAB>target[<TAB>setup]" line per entry, and an end line. Paths
// holding a tab or a line break, and a ConfirmSeconds outside
// kMinConfirmSeconds..kMaxConfirmSeconds (0: none awaited), cannot be
// written (false).
bool FormatQueue(const std::vector<TQueueEntry>& Entries, std::string& Text, int ConfirmSeconds = 0);
// What the queue file holds. Missing: no file. Uncommitted: empty or
// without its end line (cut short before it was complete). Unreadable: it
// is there but cannot be read or holds anything FormatQueue never writes
// (Problem says what) - a failure of the upgrade, never a queue to skip.
enum class TQueueState { Missing, Uncommitted, Committed, Unreadable };
struct TQueue {
  TQueueState State = TQueueState::Missing;
  std::vector<TQueueEntry> Entries;
  int ConfirmSeconds = 0;  // 0: no confirmation is awaited
  std::string Problem;
};
TQueue ReadQueueFile(const std::string& Path);
// The entries of a committed queue; nothing in every other state.
std::optional<std::vector<TQueueEntry>> ReadQueue(const std::string& Path, int* ConfirmSeconds = nullptr);
// Writes all Size bytes of Data to Fd; false (with errno, ENOSPC for a write
// that takes nothing) when it cannot.
bool WriteAll(int Fd, const char* Data, size_t Size);
// Writes Text to Path through a temporary name with fsync and a synced
// rename; false (with errno) when any step fails, and nothing is left.
bool WriteFileDurably(const std::string& Path, const std::string& Text);
// The same, but only when nothing is at Path yet (false with EEXIST when
// something is): the complete file appears in one step, never replaced.
bool CreateFileDurably(const std::string& Path, const std::string& Text);

// The decision between keeping and undoing an install that awaits its
// confirmation (the record "confirmed"). Decide creates the record for Want
// unless one exists, and returns the decision on record afterwards (Want,
// or the one that came first); None when none could be recorded.
enum class TDecision { None, Confirmed, Undo };
TDecision ReadDecision(const std::string& StateFolder);
TDecision Decide(const std::string& StateFolder, TDecision Want);

// Opens (creating) the state folder's lock file and locks it. Wait false:
// fails at once with EWOULDBLOCK when another process holds it. Returns the
// descriptor (close-on-exec), or -1 with errno.
int OpenLock(const std::string& StateFolder, bool Create);
bool TryLock(int Fd);

// The state folder is trusted only when it is a real folder owned by this
// user that nobody else can write to.
bool StateFolderIsSafe(const std::string& StateFolder);

// Installs every entry whose download exists, the program itself last: each
// replaced file is first noted in the journal and kept under its backup
// name, each new file noted as new. Stops at the first move that fails and
// says which and why; the moves made stay until RollBack. Then syncs each
// touched folder.
struct TInstallResult {
  int Moved = 0, Failed = 0;
  std::string SetupProgram;  // the installed setup program, if any
  std::string FailedFile, Reason;
};
TInstallResult Install(const std::string& StateFolder, const std::vector<TQueueEntry>& Entries,
                       const std::string& ProgramPath);

// Puts back what the journal recorded, newest first (backups renamed over
// their targets, new files removed), then removes the run's downloads, the
// queue, the journal and last the decision record. Safe to repeat after an
// interruption. ProgramRestored tells whether ProgramPath was put back.
// False when a file could not be put back: the journal then stays for the
// next try, and Problem (when given) gets the first such file and why.
struct TUndoProblem {
  std::string File, Reason;
};
bool RollBack(const std::string& StateFolder, const std::string& ProgramPath, bool* ProgramRestored = nullptr,
              TUndoProblem* Problem = nullptr);
// After the confirmation: the backups, the journal, the staging record, the
// queue and last the confirmation are removed, each removal synced.
void FinishInstall(const std::string& StateFolder);

// The record of an install that failed: the file that failed (or the
// program), the cause, and what is on disk now. Written before the undoing
// begins; an existing record (the first cause) is kept unless Replace. A
// record of three lines (as earlier releases read and write it) means Kept;
// the other outcomes add a fourth.
enum class TFailureOutcome {
  Kept,      // the previous version is in place
  Mixed,     // a file could not be put back: no program was started
  SetupRan,  // the previous files are back, but a setup program ran and its changes stay
};
void WriteFailure(const std::string& StateFolder, const std::string& File, const std::string& Reason,
                  TFailureOutcome Outcome = TFailureOutcome::Kept, bool Replace = false);
struct TFailure {
  std::string File, Reason;
  TFailureOutcome Outcome = TFailureOutcome::Kept;
};
// Replaces the record with one naming the file an undo could not put back
// (Mixed), keeping the first cause in its words.
void WriteStuckFailure(const std::string& StateFolder, const TUndoProblem& Problem);
std::optional<TFailure> ReadFailure(const std::string& StateFolder);

// Removes what the staging record lists (only names ending in ".uTMP" or
// ".uPART") and then the record itself, which stays while a file it lists
// could not be removed (held open on Windows).
void RemoveStaged(const std::string& StateFolder);
// Removes a committed queue together with its downloads.
void DiscardQueue(const std::string& StateFolder);

// Crash-safe recovery for the holder of the lock: an install whose start was
// confirmed is finished; one that began but was not confirmed is decided
// for undo and undone (recorded as failed, "interrupted", unless a cause is
// on record already). Stuck: a file could not be put back (the failure
// record says which; nothing may be started).
enum class TRecovered { Nothing, Finished, RolledBack, Stuck };
TRecovered ResolveInterruptedInstall(const std::string& StateFolder, const std::string& ProgramPath,
                                     bool* ProgramRestored = nullptr);
// ResolveInterruptedInstall, then a committed queue that no updater began
// to install is discarded (one that cannot be read is recorded as a
// failure), and what an unfinished run left is removed.
TRecovered Recover(const std::string& StateFolder, const std::string& ProgramPath, bool* ProgramRestored = nullptr);
// An install that began (its journal exists) and is not confirmed: awaiting
// its confirmation, or decided for undo and not yet undone.
bool AwaitingConfirmation(const std::string& StateFolder);
// Whether undoing such an install would rename or remove a file for which
// Held is true: its backup waits to be put back, or the install brought it
// in. (On Windows a running program's own files can be neither, so its
// process cannot make that undo.)
bool UndoTouches(const std::string& StateFolder, const std::function<bool(const std::string&)>& Held);

void SyncFolder(const std::string& Folder);
bool LooksLikeProgram(const std::string& Path);  // ELF header or "#!"

// Fault hooks, compiled only into the tests' copy of the updater
// (KELVORA_FAULT_HOOKS); elsewhere they do nothing and read nothing.
// KELVORA_UPDATER_KILL_AFTER=<n> makes the install kill its own process with
// SIGKILL right after its n-th rename, before anything else;
// KELVORA_UPDATER_KILL_IN=<step> kills it at a named step ("wait": right
// after the restarted program was started; "rollback": after the first file
// was put back); KELVORA_UPDATER_FAIL_AT=<n> makes the n-th move fail (EIO).
#ifdef KELVORA_FAULT_HOOKS
void MaybeKillAfter(int Moves);
void MaybeKillIn(const char* Step);
bool InjectedFailure(int Move);
#else
inline void MaybeKillAfter(int) {}
inline void MaybeKillIn(const char*) {}
inline bool InjectedFailure(int) { return false; }
#endif
// Renames From over To in one step (write-through where the system has it);
// false with errno.
bool RenameOver(const std::string& From, const std::string& To);

}  // namespace kelvora::updater
