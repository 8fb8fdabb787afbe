// The application of the updater tests, built twice (KV_BUILD "old" and
// "new"): appends "<build> <parameters>" to app.log beside itself; with
// "hold <ms>" it keeps running (its executable busy) that long and then
// appends "<build> done". The new build started with "/afterupgrade"
// confirms its start (the file "confirmed" in its state folder), unless a
// file "fail-start" lies beside it: it then logs "new fails" and ends with
// status 3. With a file "launch" beside it, the new build is a launcher: it
// starts itself with "child", logs "child <its pid>" and ends with 0; the
// child confirms after a moment when "child-confirms" lies beside it, and
// keeps running for a minute.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Self() {
  wchar_t self[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, 32768);
  return std::wstring(self, n);
}

std::wstring Folder() {
  const std::wstring self = Self();
  return self.substr(0, self.rfind(L'\\') + 1);
}

void Log(const std::wstring& Line) {
  std::wstring path = Folder() + L"app.log";
  const HANDLE h = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  const std::wstring text = Line + L"\n";
  char buf[4096];
  const int len = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), buf, sizeof buf,
                                        nullptr, nullptr);
  DWORD done = 0;
  ::WriteFile(h, buf, static_cast<DWORD>(len), &done, nullptr);
  ::CloseHandle(h);
}

bool Beside(const wchar_t* Name) { return ::GetFileAttributesW((Folder() + Name).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Confirms the start: the decision record in the state folder.
void Confirm() {
  const std::wstring self = Self();
  const std::wstring state = Folder() + L"." + self.substr(self.rfind(L'\\') + 1) + L".kelvora\\confirmed";
  const HANDLE h = ::CreateFileW(state.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring line = KV_BUILD;
  for (int i = 1; i < argc; ++i) line += std::wstring(L" ") + argv[i];
  Log(line);
  const bool afterUpgrade = argc == 2 && std::wcscmp(argv[1], L"/afterupgrade") == 0 && std::wstring(KV_BUILD) == L"new";
  if (afterUpgrade && Beside(L"launch")) {
    // A launcher: starts its child and ends at once, without confirming.
    const std::wstring line = L"\"" + Self() + L"\" child";
    std::wstring buffer = line;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(Self().c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      return 4;
    Log(L"child " + std::to_wstring(pi.dwProcessId));
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return 0;
  }
  if (argc == 2 && std::wcscmp(argv[1], L"child") == 0) {
    // The launcher's child: confirms when told to, and keeps running.
    ::Sleep(500);
    if (Beside(L"child-confirms")) Confirm();
    ::Sleep(60000);
    Log(L"child done");
    return 0;
  }
  if (afterUpgrade) {
    if (Beside(L"fail-start")) {
      Log(L"new fails");
      return 3;
    }
    Confirm();
  }
  if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0) {
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    Log(std::wstring(KV_BUILD) + L" done");
  }
  return 0;
}
