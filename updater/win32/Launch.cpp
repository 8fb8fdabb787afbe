// Starting a program detached from the updater: no console, no inherited
// handles, its own process group.
#include "../Launch.h"

#include <algorithm>
#include <cerrno>
#include <map>

#include "../Command.h"
#include "../Transaction.h"
#include "../TransactionFiles.h"
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

TConfirmResult WaitForConfirmation(pid_t Pid, const std::string& StateFolder, std::chrono::milliseconds Limit) {
  TConfirmResult result;
  const auto it = gStarted.find(Pid);
  if (it == gStarted.end()) {
    result.Outcome = TConfirmOutcome::Ended;
    return result;
  }
  const std::string confirm = ConfirmPath(StateFolder);
  const HANDLE change = ::FindFirstChangeNotificationW(Wide(StateFolder).c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  const auto end = std::chrono::steady_clock::now() + Limit;
  for (;;) {
    if (Exists(confirm)) {
      result.Outcome = TConfirmOutcome::Confirmed;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (::WaitForSingleObject(it->second, 0) == WAIT_OBJECT_0) {
      DWORD code = 0;
      ::GetExitCodeProcess(it->second, &code);
      result.Status = static_cast<int>(code);
      result.Outcome = Exists(confirm) ? TConfirmOutcome::Confirmed : TConfirmOutcome::Ended;
      break;
    }
    if (left.count() <= 0) break;
    // Without a change notification: a light poll of the folder.
    const HANDLE handles[2] = {it->second, change};
    const DWORD ms = static_cast<DWORD>(change != INVALID_HANDLE_VALUE ? std::min<long long>(left.count(), INFINITE - 1)
                                                                       : std::min<long long>(left.count(), 20));
    const DWORD rc = ::WaitForMultipleObjects(change != INVALID_HANDLE_VALUE ? 2 : 1, handles, FALSE, ms);
    if (rc == WAIT_OBJECT_0 + 1) ::FindNextChangeNotification(change);
  }
  if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
  return result;
}

void EndProgram(pid_t Pid) {
  const auto it = gStarted.find(Pid);
  if (it == gStarted.end()) return;
  // No console to ask: a Windows program without a window is ended.
  if (::WaitForSingleObject(it->second, 0) != WAIT_OBJECT_0) ::TerminateProcess(it->second, 1);
  ::WaitForSingleObject(it->second, 10000);
  ::CloseHandle(it->second);
  gStarted.erase(it);
}

}  // namespace kelvora::updater
