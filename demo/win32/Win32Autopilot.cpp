#include "Win32Autopilot.h"

#include <string>
#include <vector>

#include "kelvora/win32/kvWin32UpgradeUI.h"

using namespace kelvora;

namespace demo {

namespace {

TWin32Autopilot* gPilot = nullptr;

// The visible top-level windows of this thread.
std::vector<HWND> OwnWindows() {
  std::vector<HWND> out;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND W, LPARAM L) -> BOOL {
        if (::IsWindowVisible(W)) reinterpret_cast<std::vector<HWND>*>(L)->push_back(W);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

std::wstring ClassOf(HWND W) {
  wchar_t c[128] = {};
  ::GetClassNameW(W, c, 128);
  return c;
}

void Click(HWND Dialog, int Id) {
  if (HWND b = ::GetDlgItem(Dialog, Id); b != nullptr && ::IsWindowEnabled(b)) ::PostMessageW(b, BM_CLICK, 0, 0);
}

std::string MessageText(HWND Box) {
  wchar_t t[1024] = {};
  ::GetWindowTextW(::GetDlgItem(Box, 0xFFFF), t, 1024);
  char u[4096] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, t, -1, u, sizeof u, nullptr, nullptr);
  return u;
}

}  // namespace

TWin32Autopilot::TWin32Autopilot(TForm1& Form, const TDemoOptions& Options, TAutopilotRules::TGoal Goal)
    : form_(Form), rules_(*Form.Kelvora(), Options, Goal, [this] {
        closing_ = true;
        ::PostMessageW(form_.Window(), WM_CLOSE, 0, 0);
      }) {
  gPilot = this;
  // A thread timer: it fires inside the dialogs' and message boxes' own
  // loops too.
  timer_ = ::SetTimer(nullptr, 0, 50, OnTimer);
  rules_.Report("checking " + form_.Kelvora()->InfoFileURL());
  form_.ClickCheckButton();
}

TWin32Autopilot::~TWin32Autopilot() {
  ::KillTimer(nullptr, timer_);
  gPilot = nullptr;
}

void CALLBACK TWin32Autopilot::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  if (gPilot != nullptr) gPilot->Step();
}

void TWin32Autopilot::Step() {
  const bool late = rules_.PastDeadline();
  if (late) rules_.Fail("no upgrade within the time limit");
  for (HWND w : OwnWindows()) {
    const std::wstring cls = ClassOf(w);
    if (late) {
      // Modal windows would keep the loop from ending.
      if (cls != L"TForm1") ::PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
      continue;
    }
    if (cls == win32ui::kUpgradeMessageClass) {
      Click(w, win32ui::idYesBtn);
    } else if (cls == win32ui::kPasswordClass) {
      rules_.Fail("the server asked for a password");
      Click(w, win32ui::idCancelBtn);
    } else if (cls == L"#32770") {
      if (rules_.NoUpdateSeen()) {
        // The component's answer to the second check: confirmed, and the run ends.
        Click(w, IDOK);
        if (!closing_) {
          closing_ = true;
          ::PostMessageW(form_.Window(), WM_CLOSE, 0, 0);
        }
      } else {
        rules_.Fail("message: " + MessageText(w));
        Click(w, IDNO);
        Click(w, IDOK);
      }
    } else if (cls == win32ui::kWizardClass) {
      // The completion page: OK restarts the program.
      Click(w, win32ui::idFinishBtn);
    }
  }
}

}  // namespace demo
