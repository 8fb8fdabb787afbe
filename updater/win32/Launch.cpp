// Starting a program detached from the updater: no console, no inherited
// handles, its own process group, and a job object that holds it and every
// process it starts, so that an undone release ends whole.
#include "../Launch.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <vector>

#include "../Command.h"
#include "../Transaction.h"
#include "../TransactionFiles.h"
#include "Wide.h"

namespace kelvora::updater {

namespace {
// The handles of the processes started here, for WaitForExit, and the job
// each was put in.
std::map<pid_t, HANDLE> gStarted;
std::map<pid_t, HANDLE> gJobs;
// One argument quoted so that the C runtime (and CommandLineToArgvW) reads
// it back unchanged: blanks, tabs and quotes quoted, backslashes doubled
// only before a quote or the closing quote, an empty argument as "".
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

// How long a release asked to close its windows has before its job ends.
constexpr DWORD kCloseGraceMs = 3000;

// The processes of a job now.
std::set<DWORD> ProcessesOf(HANDLE Job) {
  std::vector<unsigned char> buffer(sizeof(JOBOBJECT_BASIC_PROCESS_ID_LIST) + 255 * sizeof(ULONG_PTR));
  auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
  std::set<DWORD> ids;
  if (::QueryInformationJobObject(Job, JobObjectBasicProcessIdList, list, static_cast<DWORD>(buffer.size()), nullptr) ||
      ::GetLastError() == ERROR_MORE_DATA) {
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i) ids.insert(static_cast<DWORD>(list->ProcessIdList[i]));
  }
  return ids;
}

// Posts WM_CLOSE to every top-level window of the given processes that no
// other window owns (a dialog closes with its owner); returns how many.
int AskWindowsToClose(const std::set<DWORD>& Processes) {
  struct TAsk {
    const std::set<DWORD>* Processes;
    int Asked = 0;
  } ask{&Processes};
  ::EnumWindows(
      [](HWND W, LPARAM P) -> BOOL {
        auto* a = reinterpret_cast<TAsk*>(P);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(W, &pid);
        if (a->Processes->count(pid) != 0 && ::GetWindow(W, GW_OWNER) == nullptr && ::PostMessageW(W, WM_CLOSE, 0, 0))
          ++a->Asked;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&ask));
  return ask.Asked;
}

}  // namespace

pid_t StartProgram(const std::string& Program, const std::vector<std::string>& Args) {
  // The path quoted whole (blanks and all; a path holds no quote), then
  // every argument quoted as it needs.
  std::wstring line = L"\"" + Wide(Program) + L"\"";
  for (const auto& a : Args) line += L" " + Quoted(Wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // Started suspended, put in its job, then let go: nothing it starts can
  // escape the job.
  const HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  if (!::CreateProcessW(Wide(Program).c_str(), line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED,
                        nullptr, nullptr, &si, &pi)) {
    ErrnoFromLastError();
    if (job != nullptr) ::CloseHandle(job);
    return -1;
  }
  const pid_t pid = static_cast<pid_t>(pi.dwProcessId);
  if (job != nullptr && ::AssignProcessToJobObject(job, pi.hProcess))
    gJobs[pid] = job;
  else if (job != nullptr)
    ::CloseHandle(job);
  ::ResumeThread(pi.hThread);
  ::CloseHandle(pi.hThread);
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
  const HANDLE change = ::FindFirstChangeNotificationW(Wide(StateFolder).c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  const auto end = std::chrono::steady_clock::now() + Limit;
  bool running = true;
  for (;;) {
    if (ReadDecision(StateFolder) == TDecision::Confirmed) {
      result.Outcome = TConfirmOutcome::Confirmed;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (running && ::WaitForSingleObject(it->second, 0) == WAIT_OBJECT_0) {
      running = false;
      DWORD code = 0;
      ::GetExitCodeProcess(it->second, &code);
      result.Status = static_cast<int>(code);
      // A confirmation written right before the end still counts.
      if (ReadDecision(StateFolder) == TDecision::Confirmed) {
        result.Outcome = TConfirmOutcome::Confirmed;
        break;
      }
      if (code != 0) {
        result.Outcome = TConfirmOutcome::Ended;
        break;
      }
      // Ended well without a confirmation: a launcher, whose child may
      // still confirm in time.
      result.EndedCleanly = true;
    }
    if (left.count() <= 0) break;
    // Without a change notification: a light poll of the folder.
    HANDLE handles[2] = {change, it->second};
    const DWORD count = change != INVALID_HANDLE_VALUE ? (running ? 2 : 1) : 0;
    const DWORD ms = static_cast<DWORD>(change != INVALID_HANDLE_VALUE ? std::min<long long>(left.count(), INFINITE - 1)
                                                                       : std::min<long long>(left.count(), 20));
    if (count == 0) {
      ::Sleep(ms);
      continue;
    }
    const DWORD rc = ::WaitForMultipleObjects(count, handles, FALSE, ms);
    if (rc == WAIT_OBJECT_0) ::FindNextChangeNotification(change);
  }
  if (change != INVALID_HANDLE_VALUE) ::FindCloseChangeNotification(change);
  return result;
}

void EndProgram(pid_t Pid) {
  // A program with windows is asked first, as when the user closes it, so
  // that it may save what it holds; when every process has ended within the
  // grace, nothing is forced. A program without a window (or without a
  // display to show one) has nothing to ask: it is ended at once, with
  // every process of its job.
  const auto it = gStarted.find(Pid);
  if (const auto job = gJobs.find(Pid); job != gJobs.end()) {
    // The grace ends early once no process of the job is left.
    if (AskWindowsToClose(ProcessesOf(job->second)) > 0) {
      for (DWORD waited = 0; waited < kCloseGraceMs && !ProcessesOf(job->second).empty(); waited += 20) ::Sleep(20);
    }
    ::TerminateJobObject(job->second, 1);
    ::CloseHandle(job->second);
    gJobs.erase(job);
  }
  if (it == gStarted.end()) return;
  if (::WaitForSingleObject(it->second, 0) != WAIT_OBJECT_0) ::TerminateProcess(it->second, 1);
  ::WaitForSingleObject(it->second, 10000);
  ::CloseHandle(it->second);
  gStarted.erase(it);
}

void AskOthersRunningToEnd(const std::string&) {
  // A file a process runs cannot be put back here: the undo waits for it
  // (the program's recovery hands it back once that instance has ended).
}

}  // namespace kelvora::updater
