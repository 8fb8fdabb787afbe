#include "platform/Process.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <memory>

#include "platform/win32/WideExact.h"

namespace kelvora::platform {

namespace {

// One argument as the C runtime's parser (and CommandLineToArgvW) reads it
// back: quoted when it is empty or holds a blank or a quote; a quote gets a
// backslash, and so does every backslash that ends up before a quote.
void AppendArgument(std::wstring& Line, const std::wstring& Arg) {
  if (!Line.empty()) Line += L' ';
  if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    Line += Arg;
    return;
  }
  Line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : Arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    Line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    Line += c;
  }
  Line.append(backslashes * 2, L'\\');
  Line += L'"';
}

bool NamesFolder(const std::wstring& Path) { return Path.find_first_of(L"\\/:") != std::wstring::npos; }

bool IsFile(const std::wstring& Path) {
  const DWORD a = ::GetFileAttributesW(Path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A bare program name, looked up in PATH only (".exe" added when it has no
// extension). Unlike CreateProcess's own search, neither the application's
// folder nor the current folder is tried, so a file planted there is not
// started in its place.
std::wstring FindInPath(const std::wstring& Name) {
  const std::wstring file = Name.find(L'.') == std::wstring::npos ? Name + L".exe" : Name;
  const DWORD n = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (n == 0) return {};
  std::wstring path(n, L'\0');
  path.resize(::GetEnvironmentVariableW(L"PATH", path.data(), n));
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring dir = path.substr(start, end - start);
    dir.erase(std::remove(dir.begin(), dir.end(), L'"'), dir.end());
    if (!dir.empty() && NamesFolder(dir)) {  // a relative entry would mean the current folder
      if (dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
      if (IsFile(dir + file)) return dir + file;
    }
    start = end + 1;
  }
  return {};
}

std::wstring NameOf(const std::wstring& Entry) { return Entry.substr(0, Entry.find(L'=', 1)); }

bool SameName(const std::wstring& A, const std::wstring& B) {
  return ::CompareStringOrdinal(A.data(), static_cast<int>(A.size()), B.data(), static_cast<int>(B.size()), TRUE) ==
         CSTR_EQUAL;
}

// This process's environment with Env put in (a variable of the same name,
// in any case, replaced), sorted by name as CreateProcess wants it.
bool EnvironmentBlock(const std::vector<std::string>& Env, std::wstring& Block) {
  std::vector<std::wstring> added;
  for (const auto& e : Env) {
    std::wstring w;
    if (!WideExact(e, w)) return false;
    if (w.find(L'=', 1) == std::wstring::npos) {
      errno = EINVAL;
      return false;
    }
    added.push_back(std::move(w));
  }
  std::vector<std::wstring> entries;
  if (wchar_t* current = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = current; *p != L'\0'; p += std::wcslen(p) + 1) {
      std::wstring entry(p);
      const bool replaced = std::any_of(added.begin(), added.end(),
                                        [&](const std::wstring& a) { return SameName(NameOf(a), NameOf(entry)); });
      if (!replaced) entries.push_back(std::move(entry));
    }
    ::FreeEnvironmentStringsW(current);
  }
  entries.insert(entries.end(), added.begin(), added.end());
  std::stable_sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
    const std::wstring na = NameOf(a), nb = NameOf(b);
    return ::CompareStringOrdinal(na.data(), static_cast<int>(na.size()), nb.data(), static_cast<int>(nb.size()),
                                  TRUE) == CSTR_LESS_THAN;
  });
  Block.clear();
  for (const auto& e : entries) {
    Block += e;
    Block += L'\0';
  }
  Block += L'\0';
  return true;
}

struct TAttributeList {
  std::unique_ptr<BYTE[]> Storage;
  LPPROC_THREAD_ATTRIBUTE_LIST List = nullptr;
  ~TAttributeList() {
    if (List != nullptr) ::DeleteProcThreadAttributeList(List);
  }
};

struct THandle {
  HANDLE H = nullptr;
  ~THandle() {
    if (H != nullptr && H != INVALID_HANDLE_VALUE) ::CloseHandle(H);
  }
};

// The block by which the C runtime hands open descriptors to a child
// (STARTUPINFO's cbReserved2/lpReserved2): a count, one flag byte per
// descriptor, one handle per descriptor. Descriptors 0 to 2 stay unset, so
// the child takes its standard handles as usual; Handle becomes 3.
std::vector<BYTE> DescriptorBlock(HANDLE Handle) {
  constexpr int kCount = 4;
  constexpr BYTE kOpen = 0x01, kPipe = 0x08, kDevice = 0x40;
  std::vector<BYTE> block(sizeof(int) + kCount + kCount * sizeof(HANDLE), 0);
  std::memcpy(block.data(), &kCount, sizeof(int));
  const DWORD type = ::GetFileType(Handle);
  block[sizeof(int) + 3] = kOpen | (type == FILE_TYPE_PIPE ? kPipe : type == FILE_TYPE_CHAR ? kDevice : 0);
  BYTE* handles = block.data() + sizeof(int) + kCount;
  for (int i = 0; i < kCount; ++i) {
    const HANDLE h = i == 3 ? Handle : INVALID_HANDLE_VALUE;
    std::memcpy(handles + i * sizeof(HANDLE), &h, sizeof(HANDLE));
  }
  return block;
}

// A batch file runs under cmd.exe, which reads its command line by other
// rules than the C runtime: an argument from outside (an address from the
// server) could then run commands. Only programs are started.
bool IsBatchFile(std::wstring Program) {
  // The system drops trailing dots and blanks of a name ("run.bat." runs
  // run.bat); a stream name ("run.bat::$DATA") is refused as well.
  while (!Program.empty() && (Program.back() == L'.' || Program.back() == L' ')) Program.pop_back();
  const std::size_t sep = Program.find_last_of(L"\\/");
  std::wstring name = sep == std::wstring::npos ? Program : Program.substr(sep + 1);
  if (name.find(L':') != std::wstring::npos) return true;
  for (auto& c : name) c = static_cast<wchar_t>(std::towlower(c));
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos) return false;
  const std::wstring ext = name.substr(dot);
  return ext == L".bat" || ext == L".cmd";
}

int Spawn(const std::wstring& Program, const std::vector<std::string>& Argv, int KeepFd,
          const std::vector<std::string>* Env) {
  if (IsBatchFile(Program)) {
    errno = ENOEXEC;
    return -1;
  }
  std::wstring line;
  for (std::size_t i = 0; i < Argv.size(); ++i) {
    std::wstring arg;
    if (!WideExact(Argv[i], arg)) return -1;
    if (i == 0) {
      // The runtime reads the program's name up to the next quote, without
      // escapes; a file name cannot hold a quote anyway.
      if (arg.find(L'"') != std::wstring::npos) {
        errno = EINVAL;
        return -1;
      }
      line = L"\"" + arg + L"\"";
    } else {
      AppendArgument(line, arg);
    }
  }
  std::wstring env;
  if (Env != nullptr && !Env->empty() && !EnvironmentBlock(*Env, env)) return -1;

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  TAttributeList attributes;
  THandle inherited;
  std::vector<BYTE> descriptors;
  if (KeepFd >= 0) {
    const auto own = reinterpret_cast<HANDLE>(::_get_osfhandle(KeepFd));
    // An inheritable copy, so the caller's handle keeps its own flags; the
    // handle list makes it the only handle the program gets.
    if (own == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &inherited.H, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      errno = EBADF;
      return -1;
    }
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.Storage.reset(new BYTE[size]);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.Storage.get());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) {
      SetErrnoFromSystem(::GetLastError());
      return -1;
    }
    attributes.List = list;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited.H, sizeof(HANDLE),
                                     nullptr, nullptr)) {
      SetErrnoFromSystem(::GetLastError());
      return -1;
    }
    si.lpAttributeList = list;
    descriptors = DescriptorBlock(inherited.H);
    si.StartupInfo.cbReserved2 = static_cast<WORD>(descriptors.size());
    si.StartupInfo.lpReserved2 = descriptors.data();
  }

  // No console, a process group of its own (a Ctrl+C meant for the
  // application does not reach it), and out of the application's job when
  // the job allows it, so that closing the job does not end the program.
  DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
  if (attributes.List != nullptr) flags |= EXTENDED_STARTUPINFO_PRESENT;
  PROCESS_INFORMATION pi{};
  auto create = [&](DWORD Extra) {
    return ::CreateProcessW(Program.c_str(), line.data(), nullptr, nullptr, KeepFd >= 0 ? TRUE : FALSE,
                            flags | Extra, env.empty() ? nullptr : env.data(), nullptr, &si.StartupInfo, &pi);
  };
  if (!create(CREATE_BREAKAWAY_FROM_JOB)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_ACCESS_DENIED || !create(0)) {
      SetErrnoFromSystem(err != ERROR_ACCESS_DENIED ? err : ::GetLastError());
      return -1;
    }
  }
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return static_cast<int>(pi.dwProcessId);
}

}  // namespace

int SpawnDetached(const std::vector<std::string>& Argv) {
  if (Argv.empty() || Argv[0].empty()) {
    errno = ENOENT;
    return -1;
  }
  std::wstring program;
  if (!WideExact(Argv[0], program)) return -1;
  if (!NamesFolder(program)) program = FindInPath(program);
  if (program.empty()) {
    errno = ENOENT;
    return -1;
  }
  return Spawn(program, Argv, -1, nullptr);
}

int SpawnProgram(const std::string& Program, const std::vector<std::string>& Argv, int KeepFd,
                 const std::vector<std::string>& Env) {
  std::wstring program;
  if (Argv.empty() || Program.empty()) {
    errno = EINVAL;
    return -1;
  }
  if (!WideExact(Program, program)) return -1;
  return Spawn(program, Argv, KeepFd, &Env);
}

void OpenWithDesktop(const std::string& Address) {
  std::wstring address;
  if (!WideExact(Address, address)) return;
  ::ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace kelvora::platform
