// Starting a program detached from the updater: no console, no inherited
// handles, its own process group.
#include "../Launch.h"

#include <cerrno>
#include <map>

#include "../Command.h"
#include "Wide.h"

namespace kelvora::updater {

namespace {
// The handles of the processes started here, for WaitForExit.
std::map<pid_t, HANDLE> gStarted;
// One argument quoted so that the C runtime reads it back unchanged.
std::wstring Quoted(const std::wstring& Arg) {
  if (!Arg.empty() && Arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return Arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : Arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}
}  // namespace

pid_t StartProgram(const std::string& Program, const std::string& Params, const std::vector<std::string>& Extra) {
  // The path quoted whole (blanks and all; a path holds no quote), the
  // parameters as the application wrote them, then the program's own
  // arguments each quoted.
  std::wstring line = L"\"" + Wide(Program) + L"\"";
  if (!Params.empty()) line += L" " + Wide(Params);
  for (const auto& a : Extra) line += L" " + Quoted(Wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(Wide(Program).c_str(), line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &si,
                        &pi)) {
    ErrnoFromLastError();
    return -1;
  }
  ::CloseHandle(pi.hThread);
  const pid_t pid = static_cast<pid_t>(pi.dwProcessId);
  gStarted[pid] = pi.hProcess;
  return pid;
}

void WaitForExit(pid_t Pid) {
  const auto it = gStarted.find(Pid);
  if (it == gStarted.end()) return;
  ::WaitForSingleObject(it->second, INFINITE);
  ::CloseHandle(it->second);
  gStarted.erase(it);
}

}  // namespace kelvora::updater
