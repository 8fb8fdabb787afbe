#include "win32ui/BoundedText.h"

#include <commctrl.h>

#include <algorithm>

#include "win32ui/Dialogs.h"

namespace kelvora::win32ui {

namespace {

constexpr wchar_t kBoxProp[] = L"KvTextBox";

// Arrows and page keys scroll the box; Enter, Esc and Tab stay the
// dialog's, so Enter is still the default button while the box has focus.
LRESULT CALLBACK BoxProc(HWND W, UINT M, WPARAM Wp, LPARAM Lp, UINT_PTR, DWORD_PTR) {
  if (M == WM_GETDLGCODE) return DLGC_WANTARROWS;
  if (M == WM_NCDESTROY) {
    ::RemoveWindowSubclass(W, BoxProc, 0);
    ::RemovePropW(W, kBoxProp);
  }
  return ::DefSubclassProc(W, M, Wp, Lp);
}

}  // namespace

bool IsTextBox(HWND Child) { return Child != nullptr && ::GetPropW(Child, kBoxProp) != nullptr; }

int PlaceBoundedText(HWND Dialog, int Id, const std::wstring& Text, HFONT Font, int Left, int Top, int Width,
                     int Room) {
  const SIZE e = TextExtent(Dialog, Font, Text, Width);
  const bool scrolls = e.cy > Room;
  HWND t = ::GetDlgItem(Dialog, Id);
  if (t == nullptr || IsTextBox(t) != scrolls) {
    if (t != nullptr) ::DestroyWindow(t);
    if (scrolls) {
      t = Child(Dialog, L"EDIT", Text, ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP, Id, Font,
                WS_EX_CLIENTEDGE);
      ::SetPropW(t, kBoxProp, reinterpret_cast<HANDLE>(1));
      ::SetWindowSubclass(t, BoxProc, 0, 0);
    } else {
      t = Child(Dialog, L"STATIC", Text, SS_NOPREFIX, Id, Font);
    }
    // First in the tab order, as the text comes first on the page.
    ::SetWindowPos(t, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  } else {
    ::SendMessageW(t, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  }
  const int h = scrolls ? Room : e.cy;
  Place(t, Left, Top, Width, h);
  return h;
}

int TextRoom(HWND Dialog, const RECT* Around, int Fixed, int MinRoom) {
  const RECT a = WorkAreaOf(Dialog, Around);
  const int workH = static_cast<int>(a.bottom - a.top);
  const int client = std::min<int>(workH * 2 / 3, workH - FrameSize(Dialog).cy);
  return std::max(client - Fixed, MinRoom);
}

}  // namespace kelvora::win32ui
