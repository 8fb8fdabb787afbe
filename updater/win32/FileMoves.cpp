// Moves and attributes with the system's own calls: a rename with replace
// and write-through, so the move is on disk when it returns.
#include "../FileMoves.h"

#include <algorithm>
#include <cerrno>

#include "../Transaction.h"
#include "Wide.h"

namespace kelvora::updater {

namespace {

// Another program (a viewer, a virus scanner, an indexer) may hold the
// target open for a moment; such a move is tried again for a few seconds.
// Replacing a held file fails with a sharing violation or (Wine, and a
// running program on Windows) with access denied; a denied move onto an
// existing target is therefore retried too, at the cost of the wait when
// the denial is for good.
constexpr DWORD kFirstRetryMs = 10, kLongestRetryMs = 500, kRetryBudgetMs = 10000;

bool MoveReplacing(const std::wstring& From, const std::wstring& To) {
  DWORD pause = kFirstRetryMs, waited = 0;
  for (;;) {
    if (::MoveFileExW(From.c_str(), To.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD err = ::GetLastError();
    const bool held = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ||
                      (err == ERROR_ACCESS_DENIED && ::GetFileAttributesW(To.c_str()) != INVALID_FILE_ATTRIBUTES);
    if (!held || waited >= kRetryBudgetMs) {
      ::SetLastError(err);
      return false;
    }
    ::Sleep(pause);
    waited += pause;
    pause = std::min(pause * 2, kLongestRetryMs);
  }
}

// Whether nobody holds Path against its removal right now. A held target
// takes the rename below: a second name made for it could not be removed
// again while it is held.
bool MayBeReplaced(const std::wstring& Path) {
  const HANDLE h = ::CreateFileW(Path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

}  // namespace

bool TakesOverMode(const std::string& Target) {
  // No permission bits to take over here; a target that is a plain file is
  // what is replaced.
  const DWORD attr = ::GetFileAttributesW(Wide(Target).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool RenameOver(const std::string& From, const std::string& To) {
  if (MoveReplacing(Wide(From), Wide(To))) return true;
  ErrnoFromLastError();
  return false;
}

bool MoveOver(const std::string& Download, const std::string& Target,
              const std::function<void(const std::string&)>& Settle, const std::string& Backup) {
  const std::wstring from = Wide(Download), to = Wide(Target);
  const DWORD attr = ::GetFileAttributesW(from.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) {
    ErrnoFromLastError();
    return false;
  }
  if (attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
    errno = EINVAL;
    return false;
  }
  if (Settle) Settle(Download);
  const DWORD targetAttr = ::GetFileAttributesW(to.c_str());
  if (!Backup.empty() && targetAttr != INVALID_FILE_ATTRIBUTES) {
    const std::wstring backup = Wide(Backup);
    // A second name for the old file (NTFS), so that the target is never
    // missing, not even when the updater is killed between the two steps.
    // A read-only target refuses to be replaced and takes the rename below.
    if (!(targetAttr & FILE_ATTRIBUTE_READONLY) && MayBeReplaced(to) &&
        ::CreateHardLinkW(backup.c_str(), to.c_str(), nullptr)) {
      MaybeKillIn("backup");
      if (MoveReplacing(from, to)) return true;
      ErrnoFromLastError();
      const int err = errno;
      ::DeleteFileW(backup.c_str());
      errno = err;
      return false;
    }
    // Without hard links (FAT, a network share) the old file keeps its
    // name's attributes under the backup name; the journal covers the
    // moment the target is missing. A file held open by another program is
    // waited for (bounded).
    if (!MoveReplacing(to, backup)) {
      ErrnoFromLastError();
      return false;
    }
    if (MoveReplacing(from, to)) return true;
    ErrnoFromLastError();
    const int err = errno;
    ::MoveFileExW(backup.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    errno = err;
    return false;
  }
  // A read-only target refuses to be replaced: it is made writable first
  // and gets its bits back when the move fails.
  const DWORD old = ::GetFileAttributesW(to.c_str());
  const bool readOnly = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
  if (readOnly) ::SetFileAttributesW(to.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
  if (MoveReplacing(from, to)) return true;
  ErrnoFromLastError();
  const int err = errno;
  if (readOnly) ::SetFileAttributesW(to.c_str(), old);
  errno = err;
  return false;
}

bool SetAttributes(const std::string& Path, std::uint32_t Bits) {
  return ::SetFileAttributesW(Wide(Path).c_str(), Bits == 0 ? FILE_ATTRIBUTE_NORMAL : Bits) != 0;
}

bool MakeExecutable(const std::string&) { return true; }  // a Windows file runs by its name

}  // namespace kelvora::updater
