// Writing the updater program and starting it on Windows. From the write to
// the start the folder stays open without delete sharing (it cannot be
// renamed or removed) and the written file without write or delete sharing,
// so the program started is the one written. It runs as a process of its
// own, without a console window, outside this program's job where allowed.
#include "kelvora/UpdaterFile.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>

#include "platform/Folders.h"
#include "updater/TransactionFiles.h"
#include "updater/win32/Wide.h"

namespace kelvora::detail {

using updater::ErrnoFromLastError;
using updater::Wide;

namespace {

HANDLE AsHandle(std::intptr_t Value) { return reinterpret_cast<HANDLE>(Value); }
std::intptr_t AsValue(HANDLE H) { return H == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(H); }

HANDLE OpenFolder(const std::string& Folder, DWORD Share) {
  return ::CreateFileW(Wide(Folder).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, Share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool Identify(HANDLE H, BY_HANDLE_FILE_INFORMATION& Info) { return ::GetFileInformationByHandle(H, &Info) != 0; }

// A folder itself, not a link or junction to one elsewhere.
bool RealFolder(HANDLE H) {
  BY_HANDLE_FILE_INFORMATION info{};
  return Identify(H, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring Quoted(const std::wstring& Arg) {
  if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return Arg;
  std::wstring out = L"\"";
  for (size_t i = 0;; ++i) {
    size_t slashes = 0;
    while (i < Arg.size() && Arg[i] == L'\\') ++i, ++slashes;
    if (i == Arg.size()) {
      out.append(slashes * 2, L'\\');  // before the closing quote
      break;
    }
    if (Arg[i] == L'"') {
      out.append(slashes * 2 + 1, L'\\');
    } else {
      out.append(slashes, L'\\');
    }
    out += Arg[i];
  }
  return out + L"\"";
}

bool LessIgnoringCase(const std::wstring& A, const std::wstring& B) {
  return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()), TRUE) ==
         CSTR_LESS_THAN;
}

// This process's environment with Name set to Value, as a block sorted the
// way the system keeps it.
std::wstring EnvironmentWith(const std::wstring& Name, const std::wstring& Value) {
  std::vector<std::wstring> vars;
  if (wchar_t* block = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = block; *p != L'\0'; p += std::wcslen(p) + 1) {
      const std::wstring var = p;
      const bool same = var.size() > Name.size() && var[Name.size()] == L'=' &&
                        ::CompareStringOrdinal(var.c_str(), static_cast<int>(Name.size()), Name.c_str(),
                                               static_cast<int>(Name.size()), TRUE) == CSTR_EQUAL;
      if (!same) vars.push_back(var);
    }
    ::FreeEnvironmentStringsW(block);
  }
  vars.push_back(Name + L"=" + Value);
  std::stable_sort(vars.begin(), vars.end(), LessIgnoringCase);
  std::wstring out;
  for (const std::wstring& v : vars) out += v + L'\0';
  return out + L'\0';
}

}  // namespace

TUpdaterFile::~TUpdaterFile() {
  if (Held != -1) ::CloseHandle(AsHandle(Held));
  if (Dir != -1) ::CloseHandle(AsHandle(Dir));
}

bool CanRunProgramsIn(const std::string& Folder, std::size_t Size) {
  const HANDLE dir = OpenFolder(Folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (dir == INVALID_HANDLE_VALUE) return false;
  const bool real = RealFolder(dir);
  ::CloseHandle(dir);
  ULARGE_INTEGER free{};
  return real && platform::IsPrivateFolder(Folder) &&
         ::GetDiskFreeSpaceExW(Wide(Folder).c_str(), &free, nullptr, nullptr) && free.QuadPart >= Size;
}

std::string PathIdentity(const std::string& ProgramPath) {
  // The file system's rule: ordinal, case-insensitive, "/" and "\\" alike.
  std::wstring path = Wide(ProgramPath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (!path.empty()) ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  return updater::Utf8(path);
}

bool WriteUpdaterFile(const std::string& Folder, const std::string& Name, const std::string& Program,
                      TUpdaterFile& File) {
  File.Name = Name;
  File.Path = Folder;
  if (File.Path.empty() || !updater::IsPathSeparator(File.Path.back())) File.Path += '\\';
  File.Path += Name;
  const HANDLE dir = OpenFolder(Folder, FILE_SHARE_READ | FILE_SHARE_WRITE);
  File.Dir = AsValue(dir);
  if (dir == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  // Held from here on, so the folder checked is the folder written to.
  if (!RealFolder(dir) || !platform::IsPrivateFolder(Folder)) {
    errno = EPERM;
    return false;
  }
  if (Program.empty()) {
    errno = ENOEXEC;
    return false;
  }
  const std::wstring path = Wide(File.Path);
  updater::RemoveFile(File.Path);  // an older one; a running one stays and the create fails
  const HANDLE out = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    ErrnoFromLastError();
    return false;
  }
  bool ok = true;
  for (size_t done = 0; ok && done < Program.size();) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(Program.size() - done, 1u << 30));
    ok = ::WriteFile(out, Program.data() + done, chunk, &n, nullptr) != 0 && n > 0;
    done += n;
  }
  BY_HANDLE_FILE_INFORMATION written{};
  ok = ok && ::FlushFileBuffers(out) != 0 && Identify(out, written);
  if (!ok) ErrnoFromLastError();
  const int err = errno;
  ok = ::CloseHandle(out) != 0 && ok;
  if (ok) {
    // Held for reading only, which the start needs; nobody may write,
    // rename or delete it until then. It must be the very file written.
    const HANDLE held = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    File.Held = AsValue(held);
    BY_HANDLE_FILE_INFORMATION now{};
    if (held != INVALID_HANDLE_VALUE && Identify(held, now) && now.dwVolumeSerialNumber == written.dwVolumeSerialNumber &&
        now.nFileIndexHigh == written.nFileIndexHigh && now.nFileIndexLow == written.nFileIndexLow)
      return true;
    errno = EPERM;
  } else {
    errno = err != 0 ? err : EIO;
  }
  const int reason = errno;
  RemoveUpdaterFile(File);
  errno = reason;
  return false;
}

int StartUpdater(TUpdaterFile& File, const std::vector<std::string>& Args, int) {
  if (File.Held == -1) {
    errno = EPERM;
    return -1;
  }
  std::wstring line;
  for (const std::string& a : Args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(a));
  // The updater waits for this process to end; it takes the upgrade lock
  // itself once this process has let go of it.
  std::wstring env = EnvironmentWith(L"KELVORA_APP_PID", std::to_wstring(::GetCurrentProcessId()));
  const std::wstring program = Wide(File.Path);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP;
  // Outside this program's job, so that closing the job with the program
  // does not end the updater; a job that forbids it keeps the updater.
  bool ok = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags | CREATE_BREAKAWAY_FROM_JOB,
                             env.data(), nullptr, &si, &pi) != 0;
  if (!ok && ::GetLastError() == ERROR_ACCESS_DENIED)
    ok = ::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags, env.data(), nullptr, &si, &pi) != 0;
  if (!ok) {
    ErrnoFromLastError();
    return -1;
  }
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(pi.dwProcessId);
}

void RemoveUpdaterFile(TUpdaterFile& File) {
  if (File.Held != -1) ::CloseHandle(AsHandle(File.Held));
  File.Held = -1;
  ::DeleteFileW(Wide(File.Path).c_str());
}

}  // namespace kelvora::detail
