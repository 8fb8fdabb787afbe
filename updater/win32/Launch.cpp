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
}  // namespace

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
