#include "win32ui/Dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <cwctype>
#include <mutex>
#include <vector>

#include "framework/win32/Wide.h"
#include "win32ui/DpiCalls.h"

namespace kelvora::win32ui {

TScale ScaleOf(HWND Window) {
  TScale s;
  s.Dpi = WindowDpi(Window);
  return s;
}

TFonts::~TFonts() { Free(); }

void TFonts::Free() {
  for (HFONT* f : {&message_, &title_, &small_}) {
    if (*f != nullptr) ::DeleteObject(*f);
    *f = nullptr;
  }
}

void TFonts::Make(UINT Dpi) {
  Free();
  NONCLIENTMETRICSW ncm{};
  NonClientMetrics(ncm, Dpi);
  LOGFONTW lf = ncm.lfMessageFont;
  base_ = lf;
  message_ = ::CreateFontIndirectW(&lf);
  MakeTitle(Dpi, 19);
  const TScale s{Dpi};
  LOGFONTW small = lf;
  // One pixel above the message font at 96 dpi, as the layout intends.
  small.lfHeight = lf.lfHeight < 0 ? lf.lfHeight - s(1) : lf.lfHeight + s(1);
  small_ = ::CreateFontIndirectW(&small);
}

void TFonts::MakeTitle(UINT Dpi, int PixelHeight) {
  if (title_ != nullptr) ::DeleteObject(title_);
  LOGFONTW title = base_;
  title.lfHeight = -TScale{Dpi}(PixelHeight);
  title.lfWeight = FW_BOLD;
  title_ = ::CreateFontIndirectW(&title);
}

std::wstring WinText(const std::string& Text) {
  const std::wstring in = win32::Wide(Text);
  std::wstring out;
  out.reserve(in.size() + 8);
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == L'\r' || in[i] == L'\n') {
      out += L"\r\n";
      if (in[i] == L'\r' && i + 1 < in.size() && in[i + 1] == L'\n') ++i;
    } else {
      out += in[i];
    }
  }
  return out;
}

std::string TextOf(HWND Window) {
  const int n = ::GetWindowTextLengthW(Window);
  std::wstring w(static_cast<size_t>(n) + 1, L'\0');
  w.resize(static_cast<size_t>(::GetWindowTextW(Window, w.data(), n + 1)));
  return win32::Utf8(w);
}

SIZE TextExtent(HWND Window, HFONT Font, const std::wstring& Text, int WrapWidth, bool Prefix) {
  HDC dc = ::GetDC(Window);
  HGDIOBJ old = ::SelectObject(dc, Font);
  RECT r{0, 0, WrapWidth > 0 ? WrapWidth : 1, 0};
  UINT flags = DT_CALCRECT | (WrapWidth > 0 ? DT_WORDBREAK | DT_EDITCONTROL : DT_SINGLELINE) | DT_EXPANDTABS;
  if (!Prefix) flags |= DT_NOPREFIX;
  if (Text.empty()) {
    TEXTMETRICW tm{};
    ::GetTextMetricsW(dc, &tm);
    r.right = 0;
    r.bottom = tm.tmHeight;
  } else {
    ::DrawTextW(dc, Text.c_str(), static_cast<int>(Text.size()), &r, flags);
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(Window, dc);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

HWND Child(HWND Parent, const wchar_t* Class, const std::wstring& Text, DWORD Style, int Id, HFONT Font,
           DWORD ExStyle) {
  HWND h = ::CreateWindowExW(ExStyle, Class, Text.c_str(), WS_CHILD | WS_VISIBLE | Style, 0, 0, 0, 0, Parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), ::GetModuleHandleW(nullptr), nullptr);
  if (h != nullptr && Font != nullptr) ::SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
  return h;
}

void Place(HWND Window, int X, int Y, int W, int H) {
  ::SetWindowPos(Window, nullptr, X, Y, W, H, SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetText(HWND Window, const std::wstring& Text) {
  // Unchanged texts are not set again: no repaint, no flicker.
  const int n = ::GetWindowTextLengthW(Window);
  if (n == static_cast<int>(Text.size())) {
    std::wstring now(static_cast<size_t>(n) + 1, L'\0');
    now.resize(static_cast<size_t>(::GetWindowTextW(Window, now.data(), n + 1)));
    if (now == Text) return;
  }
  ::SetWindowTextW(Window, Text.c_str());
}

namespace {

// An empty dialog template: style, no controls, size set later, the class.
std::vector<WORD> EmptyTemplate(DWORD Style, DWORD ExStyle, const wchar_t* Class) {
  std::vector<WORD> t(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* d = reinterpret_cast<DLGTEMPLATE*>(t.data());
  d->style = Style;
  d->dwExtendedStyle = ExStyle;
  t.push_back(0);  // no menu
  for (const wchar_t* c = Class; *c != 0; ++c) t.push_back(static_cast<WORD>(*c));
  t.push_back(0);
  t.push_back(0);  // no title yet
  return t;
}

}  // namespace

void RegisterDialogClass(const wchar_t* Class) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (::GetClassInfoExW(::GetModuleHandleW(nullptr), Class, &wc)) return;
  wc = WNDCLASSEXW{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ::DefDlgProcW;
  wc.cbWndExtra = DLGWINDOWEXTRA;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
  wc.lpszClassName = Class;
  ::RegisterClassExW(&wc);
}

INT_PTR RunDialog(HWND Owner, DLGPROC Proc, LPARAM Param, DWORD Style, DWORD ExStyle, const wchar_t* Class) {
  InitControls();
  RegisterDialogClass(Class);
  std::vector<WORD> t = EmptyTemplate(Style, ExStyle, Class);
  return ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(t.data()), Owner,
                                   Proc, Param);
}

HWND CreateModeless(HWND Owner, DLGPROC Proc, LPARAM Param, DWORD Style, DWORD ExStyle, const wchar_t* Class) {
  InitControls();
  RegisterDialogClass(Class);
  std::vector<WORD> t = EmptyTemplate(Style, ExStyle, Class);
  return ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), reinterpret_cast<DLGTEMPLATE*>(t.data()), Owner,
                                      Proc, Param);
}

RECT WorkAreaOf(HWND Dialog, const RECT* Around) {
  HMONITOR m;
  if (Around != nullptr) {
    m = ::MonitorFromRect(Around, MONITOR_DEFAULTTONEAREST);
  } else {
    HWND owner = ::GetWindow(Dialog, GW_OWNER);
    m = ::MonitorFromWindow(owner != nullptr ? owner : Dialog, MONITOR_DEFAULTTOPRIMARY);
  }
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!::GetMonitorInfoW(m, &mi)) ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &mi.rcWork, 0);
  return mi.rcWork;
}

SIZE FrameSize(HWND Dialog) {
  RECT r{0, 0, 0, 0};
  const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(Dialog, GWL_STYLE));
  const DWORD ex = static_cast<DWORD>(::GetWindowLongPtrW(Dialog, GWL_EXSTYLE));
  AdjustFrame(r, style, ex, ScaleOf(Dialog).Dpi);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void SizeClient(HWND Dialog, int W, int H, TPlacement How, const RECT* Around) {
  const SIZE frame = FrameSize(Dialog);
  const int w = W + frame.cx, h = H + frame.cy;
  RECT now{};
  ::GetWindowRect(Dialog, &now);
  const RECT a = WorkAreaOf(Dialog, How == plAround ? Around : nullptr);
  int x = now.left, y = now.top;
  if (How == plCentred) {
    x = a.left + (a.right - a.left - w) / 2;
    y = a.top + (a.bottom - a.top - h) / 2;
  } else if (How == plAround && Around != nullptr) {
    x = (Around->left + Around->right - w) / 2;
    y = (Around->top + Around->bottom - h) / 2;
  }
  // Inside the work area; a window larger than it keeps its top left corner
  // (caption and close box) on the screen.
  x = std::max<int>(a.left, std::min<int>(x, a.right - w));
  y = std::max<int>(a.top, std::min<int>(y, a.bottom - h));
  ::SetWindowPos(Dialog, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

struct TModelessHook {
  std::mutex Mutex;  // the list is per process; each thread has its own hook
  std::vector<HWND> Dialogs;
};
TModelessHook& Hook() {
  static TModelessHook* h = new TModelessHook;
  return *h;
}
thread_local HHOOK tHook = nullptr;
thread_local int tHookUsers = 0;

LRESULT CALLBACK GetMessageHook(int Code, WPARAM W, LPARAM L) {
  if (Code == HC_ACTION && W == PM_REMOVE) {
    MSG* m = reinterpret_cast<MSG*>(L);
    if (m->message >= WM_KEYFIRST && m->message <= WM_KEYLAST) {
      HWND target = nullptr;
      {
        std::lock_guard lk(Hook().Mutex);
        for (HWND d : Hook().Dialogs)
          if (m->hwnd == d || ::IsChild(d, m->hwnd)) target = d;
      }
      if (target != nullptr && ::IsDialogMessageW(target, m)) {
        m->message = WM_NULL;  // handled: the loop dispatches nothing
        m->wParam = m->lParam = 0;
      }
    }
  }
  return ::CallNextHookEx(nullptr, Code, W, L);
}

}  // namespace

void AddModelessDialog(HWND Dialog) {
  {
    std::lock_guard lk(Hook().Mutex);
    Hook().Dialogs.push_back(Dialog);
  }
  if (tHookUsers++ == 0) tHook = ::SetWindowsHookExW(WH_GETMESSAGE, GetMessageHook, nullptr, ::GetCurrentThreadId());
}

void RemoveModelessDialog(HWND Dialog) {
  {
    std::lock_guard lk(Hook().Mutex);
    auto& d = Hook().Dialogs;
    const auto it = std::find(d.begin(), d.end(), Dialog);
    if (it == d.end()) return;
    d.erase(it);
  }
  if (--tHookUsers == 0 && tHook != nullptr) {
    ::UnhookWindowsHookEx(tHook);
    tHook = nullptr;
  }
}

HWND ActiveOwner() {
  HWND a = ::GetActiveWindow();
  return a != nullptr && ::IsWindowVisible(a) ? a : nullptr;
}

void InitControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&icc);
  });
}

std::wstring AccessKeysOf(const std::wstring& Text) {
  std::wstring keys;
  for (size_t i = 0; i + 1 < Text.size(); ++i) {
    if (Text[i] != L'&') continue;
    if (Text[i + 1] != L'&') keys += static_cast<wchar_t>(std::towlower(Text[i + 1]));
    ++i;
  }
  return keys;
}

std::wstring WithAccessKey(const std::wstring& Text, std::wstring& Taken) {
  for (size_t i = 0; i < Text.size(); ++i) {
    const wchar_t c = static_cast<wchar_t>(std::towlower(Text[i]));
    if (!std::iswalnum(Text[i]) || Taken.find(c) != std::wstring::npos) continue;
    Taken += c;
    std::wstring out = Text;
    out.insert(i, 1, L'&');
    return out;
  }
  return Text;
}

}  // namespace kelvora::win32ui

namespace kelvora::win32ui {

int ButtonWidth(HWND Button, const TScale& S, int MinAt96) {
  const int n = ::GetWindowTextLengthW(Button);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  t.resize(static_cast<size_t>(::GetWindowTextW(Button, t.data(), n + 1)));
  HFONT f = reinterpret_cast<HFONT>(::SendMessageW(Button, WM_GETFONT, 0, 0));
  return std::max<int>(S(MinAt96), TextExtent(Button, f, t, 0, true).cx + S(16));
}

}  // namespace kelvora::win32ui
