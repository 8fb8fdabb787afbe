// The transaction's files with the system's own calls: write-through
// flushes instead of folder syncs, a byte-range lock instead of flock.
#include "../TransactionFiles.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "../Transaction.h"
#include "Wide.h"

namespace kelvora::updater {

const char kPathSeparator = '\\';
bool IsPathSeparator(char C) { return C == '\\' || C == '/'; }

bool IsAbsolutePath(const std::string& Path) {
  const bool drive = Path.size() >= 3 && ((Path[0] >= 'A' && Path[0] <= 'Z') || (Path[0] >= 'a' && Path[0] <= 'z')) &&
                     Path[1] == ':' && IsPathSeparator(Path[2]);
  const bool share = Path.size() >= 3 && IsPathSeparator(Path[0]) && IsPathSeparator(Path[1]);
  return drive || share;
}

std::string FolderPart(const std::string& Path) {
  size_t end = Path.size();
  while (end > 0 && !IsPathSeparator(Path[end - 1])) --end;
  return end == 0 ? std::string(".") : Path.substr(0, end);
}

bool SamePath(const std::string& A, const std::string& B) {
  // The file system's own rule: ordinal, case-insensitive, "/" and "\\" alike.
  std::wstring a = Wide(A), b = Wide(B);
  for (std::wstring* s : {&a, &b}) std::replace(s->begin(), s->end(), L'/', L'\\');
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

bool Exists(const std::string& Path) { return ::GetFileAttributesW(Wide(Path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsRegularFile(const std::string& Path) {
  const DWORD attr = ::GetFileAttributesW(Wide(Path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool IsDirectory(const std::string& Path) {
  const DWORD attr = ::GetFileAttributesW(Wide(Path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) && !(attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

namespace {
bool AppendHeld(const std::string& Path, const std::string& Text);
bool WriteHeld(const std::string& Path, const std::string& Text);
}  // namespace

bool AppendRecord(const std::string& Path, const std::string& Text) {
  // Held while it is written: the folder cannot be renamed or replaced by a
  // link meanwhile.
  const TFolder folder = OpenFolder(FolderPart(Path), true);
  if (folder == kNoFolder) return false;
  const bool ok = AppendHeld(Path, Text);
  const int err = errno;
  CloseFolder(folder);
  errno = err;
  return ok;
}

namespace {

bool AppendHeld(const std::string& Path, const std::string& Text) {
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  DWORD n = 0;
  const bool ok = ::WriteFile(h, Text.data(), static_cast<DWORD>(Text.size()), &n, nullptr) && n == Text.size() &&
                  ::FlushFileBuffers(h);
  if (!ok) ErrnoFromLastError();
  const int err = errno;
  ::CloseHandle(h);
  errno = ok ? 0 : err;
  return ok;
}

}  // namespace

bool RemoveFile(const std::string& Path) {
  const std::wstring w = Wide(Path);
  const DWORD attr = ::GetFileAttributesW(w.c_str());
  if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(w.c_str(), attr & ~FILE_ATTRIBUTE_READONLY);
  if (::DeleteFileW(w.c_str())) return true;
  ErrnoFromLastError();
  return false;
}

bool ReadAll(const std::string& Path, std::string& Text) {
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  Text.clear();
  char buf[16384];
  DWORD n = 0;
  bool ok;
  while ((ok = ::ReadFile(h, buf, sizeof buf, &n, nullptr) != 0) && n > 0) Text.append(buf, n);
  ::CloseHandle(h);
  return ok;
}

void SyncFolder(const std::string&) {}  // moves are written through; folders cannot be flushed here

bool WriteAll(int Fd, const char* Data, size_t Size) {
  size_t done = 0;
  while (done < Size) {
    const unsigned chunk = static_cast<unsigned>(std::min<size_t>(Size - done, 1u << 30));
    const int n = ::_write(Fd, Data + done, chunk);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      if (n == 0) errno = ENOSPC;
      return false;
    }
  }
  return true;
}

bool WriteFileDurably(const std::string& Path, const std::string& Text) {
  // Held while it is written: the folder cannot be renamed or replaced by a
  // link meanwhile.
  const TFolder folder = OpenFolder(FolderPart(Path), true);
  if (folder == kNoFolder) return false;
  const bool ok = WriteHeld(Path, Text);
  const int err = errno;
  CloseFolder(folder);
  errno = err;
  return ok;
}

namespace {

bool WriteHeld(const std::string& Path, const std::string& Text) {
  const std::wstring temp = Wide(Path + ".new"), final = Wide(Path);
  ::DeleteFileW(temp.c_str());
  const HANDLE h =
      ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < Text.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(Text.size() - done, 1u << 30));
    ok = ::WriteFile(h, Text.data() + done, chunk, &n, nullptr) != 0 && n > 0;
    done += n;
  }
  ok = ok && ::FlushFileBuffers(h) != 0;
  if (!ok) ErrnoFromLastError();
  const int saved = errno;
  ok = ::CloseHandle(h) != 0 && ok;
  if (ok && ::MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  if (ok) ErrnoFromLastError();
  const int err = ok ? errno : saved;
  ::DeleteFileW(temp.c_str());
  errno = err;
  return false;
}

}  // namespace

namespace {

HANDLE AsHandle(TFolder Folder) { return reinterpret_cast<HANDLE>(Folder); }
HANDLE HandleOf(int Fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(Fd)); }

bool Identify(HANDLE H, BY_HANDLE_FILE_INFORMATION& Info) {
  return H != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(H, &Info) != 0;
}

// A file of its own: no folder, no link or junction, no second name.
bool OwnFile(const BY_HANDLE_FILE_INFORMATION& Info) {
  return (Info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
         Info.nNumberOfLinks == 1;
}

// The full path of Name in the folder held, as the folder is now.
std::wstring InFolder(TFolder Folder, const std::string& Name) {
  std::wstring path(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(AsHandle(Folder), path.data(), static_cast<DWORD>(path.size()), 0);
  if (n >= path.size()) {
    path.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(AsHandle(Folder), path.data(), static_cast<DWORD>(path.size()), 0);
  }
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  if (path.back() != L'\\') path += L'\\';
  return path + Wide(Name);
}

// A C runtime descriptor over H when it is a file of its own; else closed,
// -1 with errno.
int KeptWhenOwn(HANDLE H) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Identify(H, info) || !OwnFile(info)) {
    errno = Identify(H, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ELOOP : EPERM;
    ::CloseHandle(H);
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(H), 0);
  if (fd < 0) ::CloseHandle(H);
  return fd;
}

// Nobody else writes into the file; it may be renamed or removed (it stays
// the file this descriptor writes, and a name is checked before it counts).
constexpr DWORD kPartShare = FILE_SHARE_READ | FILE_SHARE_DELETE;
constexpr DWORD kPartAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

}  // namespace

TFolder OpenFolder(const std::string& Path, bool Private) {
  // Without delete sharing: while held, it cannot be renamed or removed.
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | (Private ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return kNoFolder;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!Identify(h, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(h);
    errno = ENOTDIR;
    return kNoFolder;
  }
  // Who may write to it is left to its access list (the program folder's).
  if (Private && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::CloseHandle(h);
    errno = EPERM;
    return kNoFolder;
  }
  return reinterpret_cast<TFolder>(h);
}

void CloseFolder(TFolder Folder) {
  if (Folder != kNoFolder) ::CloseHandle(AsHandle(Folder));
}

namespace {

// Opens Name in the folder held, never following a link or junction there,
// and keeps the handle only when it is a file of its own.
int OpenPartIn(TFolder Folder, const std::string& Name, DWORD Disposition) {
  const std::wstring path = InFolder(Folder, Name);
  if (path.empty()) {
    ErrnoFromLastError();
    return -1;
  }
  const HANDLE h = ::CreateFileW(path.c_str(), kPartAccess, kPartShare, nullptr, Disposition,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return -1;
  }
  return KeptWhenOwn(h);
}

}  // namespace

// CREATE_NEW fails on anything at the name, a link or junction included.
int CreateNewIn(TFolder Folder, const std::string& Name) { return OpenPartIn(Folder, Name, CREATE_NEW); }

int OpenOwnIn(TFolder Folder, const std::string& Name) { return OpenPartIn(Folder, Name, OPEN_EXISTING); }

bool NamesOwnFile(TFolder Folder, const std::string& Name, int Fd) {
  const std::wstring path = InFolder(Folder, Name);
  if (path.empty()) return false;
  const HANDLE h = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION named{}, open{};
  const bool same = Identify(h, named) && Identify(HandleOf(Fd), open) && OwnFile(named) &&
                    named.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
                    named.nFileIndexHigh == open.nFileIndexHigh && named.nFileIndexLow == open.nFileIndexLow;
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  return same;
}

bool RemoveOwnIn(TFolder Folder, const std::string& Name) {
  const std::wstring path = InFolder(Folder, Name);
  if (path.empty()) {
    ErrnoFromLastError();
    return false;
  }
  const DWORD attr = ::GetFileAttributesW(path.c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  if (attr & FILE_ATTRIBUTE_DIRECTORY) {  // a folder, or a junction to one
    errno = EPERM;
    return false;
  }
  // A link goes itself, never what it leads to; what the user may not
  // remove is somebody else's.
  if (::DeleteFileW(path.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND) return true;
  ErrnoFromLastError();
  if (errno == EACCES) errno = EPERM;
  return false;
}

bool SyncAndRenameIn(TFolder Folder, int Fd, const std::string& From, const std::string& To) {
  const HANDLE h = HandleOf(Fd);
  const std::wstring target = InFolder(Folder, To);
  if (target.empty() || !::FlushFileBuffers(h)) {
    ErrnoFromLastError();
    return false;
  }
  // The open file itself gets the name, whatever its old name holds now.
  std::string buffer(sizeof(FILE_RENAME_INFO) + (target.size() + 1) * sizeof(wchar_t), '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
  if (::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) return true;
  // Where renaming by handle is not supported: by name, checked to be this
  // file first.
  const DWORD err = ::GetLastError();
  if ((err == ERROR_INVALID_PARAMETER || err == ERROR_NOT_SUPPORTED || err == ERROR_CALL_NOT_IMPLEMENTED) &&
      NamesOwnFile(Folder, From, Fd) &&
      ::MoveFileExW(InFolder(Folder, From).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  ErrnoFromLastError();
  return false;
}

int DuplicateFile(int Fd) {
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), HandleOf(Fd), ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    ErrnoFromLastError();
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), 0);
  if (fd < 0) ::CloseHandle(copy);
  return fd;
}

void CloseFile(int Fd) {
  if (Fd >= 0) ::_close(Fd);
}

int OpenLock(const std::string& StateFolder, bool Create) {
  if (Create && !::CreateDirectoryW(Wide(StateFolder).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    ErrnoFromLastError();
    return -1;
  }
  if (!StateFolderIsSafe(StateFolder)) {
    if (errno == 0) errno = EPERM;
    return -1;
  }
  // A leading dot hides nothing here: the folder gets the hidden attribute
  // (also one an older build made). Set whatever the folder reports, since
  // Wine reports a dot-folder hidden without keeping the attribute.
  const DWORD attr = ::GetFileAttributesW(Wide(StateFolder).c_str());
  if (attr != INVALID_FILE_ATTRIBUTES)
    ::SetFileAttributesW(Wide(StateFolder).c_str(), (attr & ~FILE_ATTRIBUTE_DIRECTORY) | FILE_ATTRIBUTE_HIDDEN);
  // Not inherited by the programs started later (no security attributes).
  const HANDLE h = ::CreateFileW(Wide(LockPath(StateFolder)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
  if (fd < 0) ::CloseHandle(h);
  return fd;
}

bool TryLock(int Fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(Fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at{};
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
  errno = EWOULDBLOCK;
  return false;
}

// A real folder, not a link elsewhere. Who may write to it is left to the
// folder's access list (the program folder's, inherited).
bool StateFolderIsSafe(const std::string& StateFolder) {
  errno = 0;
  const DWORD attr = ::GetFileAttributesW(Wide(StateFolder).c_str());
  if (attr == INVALID_FILE_ATTRIBUTES) {
    ErrnoFromLastError();
    return false;
  }
  if (!(attr & FILE_ATTRIBUTE_DIRECTORY) || (attr & FILE_ATTRIBUTE_REPARSE_POINT)) {
    errno = EPERM;
    return false;
  }
  return true;
}

bool LooksLikeProgram(const std::string& Path) {
  std::string head;
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buf[2] = {};
  DWORD n = 0;
  const bool ok = ::ReadFile(h, buf, sizeof buf, &n, nullptr) != 0;
  ::CloseHandle(h);
  return ok && n == 2 && buf[0] == 'M' && buf[1] == 'Z';
}

#ifdef KELVORA_FAULT_HOOKS
void MaybeKillAfter(int Moves) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_AFTER");
  if (v != nullptr && *v != '\0' && std::atoi(v) == Moves) ::TerminateProcess(::GetCurrentProcess(), 9);
}

void MaybeKillIn(const char* Step) {
  const char* v = std::getenv("KELVORA_UPDATER_KILL_IN");
  if (v != nullptr && std::strcmp(v, Step) == 0) ::TerminateProcess(::GetCurrentProcess(), 9);
}

#endif

bool CreateFileDurably(const std::string& Path, const std::string& Text) {
  // A name of this process's own: two writers never share a temporary file.
  const std::wstring temp = Wide(Path + "." + std::to_string(::GetCurrentProcessId()) + ".new"), final = Wide(Path);
  ::DeleteFileW(temp.c_str());
  const HANDLE h =
      ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  DWORD n = 0;
  bool ok = ::WriteFile(h, Text.data(), static_cast<DWORD>(Text.size()), &n, nullptr) != 0 && n == Text.size() &&
            ::FlushFileBuffers(h) != 0;
  if (!ok) ErrnoFromLastError();
  int err = errno;
  ok = ::CloseHandle(h) != 0 && ok;
  // Without MOVEFILE_REPLACE_EXISTING the move fails where a file is: the
  // complete file appears at once, and an existing one is never replaced.
  if (ok && !::MoveFileExW(temp.c_str(), final.c_str(), MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    err = ::GetLastError() == ERROR_ALREADY_EXISTS || ::GetLastError() == ERROR_FILE_EXISTS ? EEXIST
                                                                                             : (ErrnoFromLastError(), errno);
  }
  if (!ok) ::DeleteFileW(temp.c_str());
  errno = ok ? 0 : err;
  return ok;
}

}  // namespace kelvora::updater
