#include "win32ui/FittedMessageBox.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "kelvora/kvLanguage.h"
#include "win32ui/BoundedText.h"
#include "win32ui/Dialogs.h"

namespace kelvora::win32ui {

namespace {

constexpr int kTextId = 0xFFFF;  // the box's text, as the system numbers it

thread_local HHOOK tHook = nullptr;

RECT RectIn(HWND Parent, HWND Child) {
  RECT r{};
  ::GetWindowRect(Child, &r);
  ::MapWindowPoints(nullptr, Parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// After the system has laid the box out: when it is taller than its share
// of the work area, the text is cut to fit in a scrolling box and what lies
// below it (the buttons) moves up by as much.
void Fit(HWND Box) {
  RECT w{};
  ::GetWindowRect(Box, &w);
  HWND text = ::GetDlgItem(Box, kTextId);
  if (text == nullptr) return;
  const int height = w.bottom - w.top;
  const int allowed = TextRoom(Box, nullptr, 0, 0) + FrameSize(Box).cy;
  if (height <= allowed) return;
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(text, WM_GETFONT, 0, 0));
  const RECT t = RectIn(Box, text);
  const int line = TextExtent(Box, font, L"Ag").cy;
  const int cut = std::min<int>(height - allowed, (t.bottom - t.top) - 3 * line);
  if (cut <= 0) return;
  // What lies below the text moves up; what stands beside it (the icon,
  // centred on a tall text) goes to the text's top.
  std::vector<HWND> below, beside;
  for (HWND c = ::GetWindow(Box, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
    if (c == text) continue;
    const RECT r = RectIn(Box, c);
    if (r.top >= t.bottom) below.push_back(c);
    else if (r.bottom > t.bottom - cut) beside.push_back(c);
  }
  const int n = ::GetWindowTextLengthW(text);
  std::wstring s(static_cast<size_t>(n) + 1, L'\0');
  s.resize(static_cast<size_t>(::GetWindowTextW(text, s.data(), n + 1)));
  ::DestroyWindow(text);
  PlaceBoundedText(Box, kTextId, s, font, t.left, t.top, t.right - t.left, t.bottom - t.top - cut);
  for (HWND c : below) {
    const RECT r = RectIn(Box, c);
    ::SetWindowPos(c, nullptr, r.left, r.top - cut, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (HWND c : beside) {
    const RECT r = RectIn(Box, c);
    ::SetWindowPos(c, nullptr, r.left, t.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT c{};
  ::GetClientRect(Box, &c);
  SizeClient(Box, c.right, c.bottom - cut, plCentred);
}

// The buttons speak the component's language, not the system's.
void NameButtons(HWND Box) {
  const std::pair<int, TkvLangSlot> names[] = {{IDOK, ltOK}, {IDCANCEL, ltCancel}, {IDYES, ltYes}, {IDNO, ltNo}};
  for (const auto& [id, slot] : names)
    if (HWND button = ::GetDlgItem(Box, id)) ::SetWindowTextW(button, WinText(GetLangText(slot)).c_str());
}

LRESULT CALLBACK BoxProc(HWND W, UINT M, WPARAM Wp, LPARAM Lp, UINT_PTR, DWORD_PTR) {
  if (M == WM_INITDIALOG) {
    const LRESULT r = ::DefSubclassProc(W, M, Wp, Lp);
    NameButtons(W);
    Fit(W);
    return r;
  }
  if (M == WM_NCDESTROY) ::RemoveWindowSubclass(W, BoxProc, 0);
  return ::DefSubclassProc(W, M, Wp, Lp);
}

// Catches the box as it is created (the first window the call creates on
// this thread), before the system lays it out.
LRESULT CALLBACK CreateHook(int Code, WPARAM Wp, LPARAM Lp) {
  const HHOOK self = tHook;
  if (Code == HCBT_CREATEWND) {
    HWND w = reinterpret_cast<HWND>(Wp);
    wchar_t cls[16] = {};
    ::GetClassNameW(w, cls, 16);
    if (std::wstring(cls) == L"#32770") {
      ::SetWindowSubclass(w, BoxProc, 0, 0);
      ::UnhookWindowsHookEx(self);
      tHook = nullptr;
    }
  }
  return ::CallNextHookEx(self, Code, Wp, Lp);
}

}  // namespace

int FittedMessageBox(HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Type) {
  InitControls();
  HHOOK outer = tHook;  // a box asked for while another opens (nested loops)
  tHook = ::SetWindowsHookExW(WH_CBT, CreateHook, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxW(Owner, Text.c_str(), Caption.c_str(), Type);
  if (tHook != nullptr) ::UnhookWindowsHookEx(tHook);
  tHook = outer;
  return answer;
}

}  // namespace kelvora::win32ui
