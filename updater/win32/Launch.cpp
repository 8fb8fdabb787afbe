// Starting a program detached from the updater: no console, no inherited
// handles, its own process group.
#include "../Launch.h"

#include <cerrno>
#include <map>

#include "Wide.h"

namespace kelvora::updater {

namespace {
// The handles of the processes started here, for WaitForExit.
std::map<pid_t, HANDLE> gStarted;
}  // namespace

std::vector<std::string> SplitArguments(const std::string& Text) {
  std::vector<std::string> args;
  std::string cur;
  bool inArg = false, quoted = false;
  for (char c : Text) {
    if (c == '"') {
      quoted = !quoted;
      inArg = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\n' || c == '\r')) {
      if (inArg) args.push_back(std::move(cur));
      cur.clear();
      inArg = false;
    } else {
      cur += c;
      inArg = true;
    }
  }
  if (inArg) args.push_back(std::move(cur));
  return args;
}

pid_t StartProgram(const std::string& Program, const std::string& Params) {
  // The path quoted whole (blanks and all; a path holds no quote), the
  // parameters as the application wrote them.
  std::wstring line = L"\"" + Wide(Program) + L"\"";
  if (!Params.empty()) line += L" " + Wide(Params);
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
