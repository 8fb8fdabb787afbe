// Paths on Windows: the program's module, the working folder and the path
// rules (either separator; drives and network paths are absolute).
#include "utils/SystemFolders.h"

#include <windows.h>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

using win32::Utf8;

// Text of a call that fills a buffer of N characters and returns the length
// it needed (GetModuleFileNameW's and the folder calls' conventions).
template <typename F>
std::string BufferCall(F Call) {
  std::wstring buf(MAX_PATH, L'\0');
  for (int round = 0; round < 8; ++round) {
    const DWORD n = Call(buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      return Utf8(buf);
    }
    buf.resize(buf.size() * 2 > n ? buf.size() * 2 : static_cast<size_t>(n) + 1);
  }
  return std::string();
}

std::string WithBackslash(std::string S) {
  if (S.empty() || (S.back() != '\\' && S.back() != '/')) S += '\\';
  return S;
}

}  // namespace

namespace utils {

std::string ProgramFileName() {
  // GetModuleFileNameW returns N (and truncates) when the buffer is short.
  std::string name = BufferCall([](wchar_t* B, DWORD N) {
    const DWORD n = ::GetModuleFileNameW(nullptr, B, N);
    return n >= N ? N : n;
  });
  // A program started from the per-user virtual store (a copy the system
  // made of a program under a protected folder) counts as living in the
  // working folder, where it was started from.
  if (IsVersion6OrLater() && LowerCase(name).find("\\appdata\\local\\virtualstore\\") != std::string::npos) {
    const std::string cwd = WorkingFolder();
    const size_t sep = name.find_last_of("\\/");
    if (!cwd.empty() && sep != std::string::npos) name = WithBackslash(cwd) + name.substr(sep + 1);
  }
  return name;
}

std::string WorkingFolder() {
  return BufferCall([](wchar_t* B, DWORD N) { return ::GetCurrentDirectoryW(N, B); });
}

char PathSeparator() { return '\\'; }
bool IsPathSeparator(char C) { return C == '\\' || C == '/'; }

// A drive ("C:..."), the root of the current drive or a network path.
bool IsAbsolutePath(const std::string& Path) {
  return (Path.size() >= 2 && Path[1] == ':') || (!Path.empty() && IsPathSeparator(Path[0]));
}

}  // namespace utils
}  // namespace kelvora
