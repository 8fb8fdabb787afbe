// The engine's system-specific file calls and the run's file steps on
// Windows: wide-character calls, FlushFileBuffers, MoveFileExW with
// write-through.
#include "kelvora/FileCalls.h"

#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "kelvora/UpgradeRun.h"
#include "kelvora/kvUtils.h"
#include "updater/TransactionFiles.h"
#include "updater/win32/Wide.h"

namespace kelvora::detail {

using updater::ErrnoFromLastError;
using updater::Utf8;
using updater::Wide;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Closes H keeping errno (set from the failure before).
void CloseKeepingErrno(HANDLE H) {
  const int err = errno;
  ::CloseHandle(H);
  errno = err;
}

bool WriteWhole(HANDLE H, const std::string& Text) {
  size_t done = 0;
  while (done < Text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(Text.size() - done, 1u << 30));
    DWORD n = 0;
    if (!::WriteFile(H, Text.data() + done, chunk, &n, nullptr)) {
      ErrnoFromLastError();
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += n;
  }
  return true;
}

}  // namespace

bool IsFolder(const std::string& Path) {
  const DWORD attr = ::GetFileAttributesW(Wide(Path).c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathExists(const std::string& Path) { return ::GetFileAttributesW(Wide(Path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MakePrivateFolder(const std::string& Path) {
  // The folder inherits the access list of the program's folder; a leading
  // dot hides nothing here, the attribute does.
  const std::wstring path = Wide(Path);
  if (::CreateDirectoryW(path.c_str(), nullptr)) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
    return true;
  }
  return ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool AppendDurably(const std::string& Path, const std::string& Text) {
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  bool ok = WriteWhole(h, Text);
  if (ok && !::FlushFileBuffers(h)) {
    ErrnoFromLastError();
    ok = false;
  }
  CloseKeepingErrno(h);
  if (ok) errno = 0;
  return ok;
}

std::string ResolvedPath(const std::string& Path) {
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  wchar_t buf[32768];
  const DWORD n = ::GetFinalPathNameByHandleW(h, buf, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  ::CloseHandle(h);
  if (n == 0 || n >= 32768) return {};
  std::wstring path(buf, n);
  if (path.rfind(LR"(\\?\UNC\)", 0) == 0)
    path = LR"(\\)" + path.substr(8);
  else if (path.rfind(LR"(\\?\)", 0) == 0)
    path = path.substr(4);
  return Utf8(path);
}

std::int64_t FileSize(const std::string& Path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(Path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool ReadInChunks(const std::string& Path, const std::function<bool(const char*, std::size_t)>& Chunk) {
  const HANDLE h = ::CreateFileW(Wide(Path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  static constexpr DWORD kBlock = 64 * 1024;
  std::string buf(kBlock, '\0');
  DWORD n = 0;
  bool ok;
  while ((ok = ::ReadFile(h, buf.data(), kBlock, &n, nullptr) != 0) && n > 0)
    if (!Chunk(buf.data(), n)) break;
  ::CloseHandle(h);
  return ok;
}

void RemoveOldUpdater(const std::string& Path) {
  const std::wstring path = Wide(Path);
  constexpr int kTries = 40, kPauseMs = 50;  // two seconds at most
  for (int i = 0; i < kTries; ++i) {
    if (::DeleteFileW(path.c_str())) return;
    const DWORD err = ::GetLastError();
    if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) return;  // gone
    const DWORD attr = ::GetFileAttributesW(path.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES || (attr & FILE_ATTRIBUTE_READONLY)) return;  // not a running program
    ::Sleep(kPauseMs);
  }
}

bool HeldWhileRunning(const std::string& Path) {
  return updater::SamePath(Path, CurrentExeName()) || ::GetModuleHandleW(Wide(Path).c_str()) != nullptr;
}

void CloseLock(int Fd) {
  if (Fd >= 0) ::_close(Fd);
}

std::int64_t ResumablePartSize(const std::string& Part) {
  // The name itself, never what a link or junction points to.
  const HANDLE h = ::CreateFileW(Wide(Part).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool plain = ::GetFileInformationByHandle(h, &info) != 0 &&
                     (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
                     info.nNumberOfLinks == 1;
  ::CloseHandle(h);
  if (!plain) return -1;
  return static_cast<std::int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
}

bool RemoveForeignDownload(const std::string& Download) { return updater::RemoveFile(Download) || errno == ENOENT; }

bool CanWriteFolder(const std::string& Folder) {
  static std::atomic<unsigned> counter{0};
  std::string probe = Folder;
  if (probe.empty() || !updater::IsPathSeparator(probe.back())) probe += '\\';
  probe += ".kelvora-probe-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
  // Removed by the system as soon as it is closed.
  const HANDLE h = ::CreateFileW(Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  ::CloseHandle(h);
  return true;
}

}  // namespace kelvora::detail
