// A host of the real component for the updater tests, built twice (KV_BUILD
// "old" and "new"): appends "<build> <parameters>" to app.log beside itself,
// lets the component start (Loaded) and logs what it is told: "<build>
// failed: <reason>" (OnUpgradeFailed), "<build> message: <text>" (every
// message box, on one line) and "<build> restarted" (OnAfterRestart). The new
// build started with "/afterupgrade" while a file "fail-start" lies beside
// it logs "new fails" and ends with status 3 before the component exists.
#include <windows.h>

#include <string>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/kvKelvora.h"

using namespace kelvora;

namespace {

std::wstring Folder() {
  wchar_t self[32768];
  const DWORD n = ::GetModuleFileNameW(nullptr, self, 32768);
  const std::wstring path(self, n);
  return path.substr(0, path.rfind(L'\\') + 1);
}

void Log(std::string Line) {
  for (char& c : Line)
    if (c == '\r' || c == '\n') c = ' ';
  Line = std::string(KV_BUILD) + (Line.empty() ? "" : " " + Line) + "\n";
  const HANDLE h = ::CreateFileW((Folder() + L"app.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  ::WriteFile(h, Line.data(), static_cast<DWORD>(Line.size()), &done, nullptr);
  ::CloseHandle(h);
}

class LoggingUI : public TkvConsoleUpgradeUI {
 public:
  LoggingUI() : TkvConsoleUpgradeUI(cmAssumeYes) {}
  int MessageBox(const std::string& Text, const std::string&, unsigned) override {
    Log("message: " + Text);
    return 1;
  }
};

}  // namespace

int main() {
  std::string params;
  for (int i = 1; i <= Application().ParamCount(); ++i) params += (i > 1 ? " " : "") + Application().ParamStr(i);
  Log(params);
  if (std::string(KV_BUILD) == "new" && params == "/afterupgrade" &&
      ::GetFileAttributesW((Folder() + L"fail-start").c_str()) != INVALID_FILE_ATTRIBUTES) {
    Log("fails");
    return 3;
  }
  LoggingUI ui;
  SetUpgradeUI(&ui);
  TkvKelvora k(nullptr);
  k.OnUpgradeFailed = [](TObject*, const std::string& Reason) { Log("failed: " + Reason); };
  k.OnAfterRestart = [](TObject*) { Log("restarted"); };
  k.Loaded();
  return 0;
}
