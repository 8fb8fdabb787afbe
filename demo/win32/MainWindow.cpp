#include "MainWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include "StoredLayout.h"
#include "kelvora/Application.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/kvUtils.h"

using namespace kelvora;

namespace demo {

namespace {

constexpr wchar_t kClass[] = L"TForm1";
enum : int { idButton1 = 1, idLabel1, idLabel3, idLabel4, idLabel5, idLabel6, idURLLabel1, idURLLabel2, idProgressBar1 };

std::wstring Wide(const std::string& S) {
  std::wstring w(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, S.c_str(), -1, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, S.c_str(), -1, w.data(), static_cast<int>(w.size()));
  if (!w.empty()) w.pop_back();
  return w;
}

HWND Item(HWND W, int Id) { return ::GetDlgItem(W, Id); }

// Windows 10 1607's per-window DPI calls, looked up so that the demo starts
// on older Windows too, where the system's DPI and metrics hold.
template <class F>
F User32Call(const char* Name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), Name)));
}

UINT DpiOf(HWND W) {
  static const auto forWindow = User32Call<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (forWindow != nullptr)
    if (const UINT dpi = forWindow(W)) return dpi;
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

void MessageFontMetrics(NONCLIENTMETRICSW& Ncm, UINT Dpi) {
  static const auto forDpi = User32Call<BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT)>("SystemParametersInfoForDpi");
  Ncm.cbSize = sizeof Ncm;
  if (forDpi == nullptr || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof Ncm, &Ncm, 0, Dpi))
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof Ncm, &Ncm, 0);
}

void AdjustFrame(RECT& R, HWND W, UINT Dpi) {
  static const auto forDpi = User32Call<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  const auto style = static_cast<DWORD>(::GetWindowLongPtrW(W, GWL_STYLE));
  const auto ex = static_cast<DWORD>(::GetWindowLongPtrW(W, GWL_EXSTYLE));
  if (forDpi == nullptr || !forDpi(&R, style, FALSE, ex, Dpi)) ::AdjustWindowRectEx(&R, style, FALSE, ex);
}

}  // namespace

TForm1::TForm1(const TDemoOptions& Options) : options_(Options) {
  form_ = std::make_unique<TComponent>(nullptr);
  form_->SetName("Form1");
  KelvoraPro1 = new TkvKelvora(form_.get());
  KelvoraPro1->SetName("KelvoraPro1");
  KelvoraPro1->OnProgress = [this](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t,
                                   uint8_t PercentsDone, uint8_t, float) { KelvoraPro1Progress(PercentsDone); };
  KelvoraPro1->OnAborted = [this](TObject*) { KelvoraPro1Aborted(); };
  KelvoraPro1->OnNoUpdateAvailable = [this](TObject*) { KelvoraPro1NoUpdateAvailable(); };
  KelvoraPro1->OnAfterRestart = [this](TObject*) { restarted_ = true; };
  ReadComponentText(*form_, kMainLayout);
  if (!Options.InfoURL.empty()) KelvoraPro1->SetInfoFileURL(Options.InfoURL);
  if (!Options.PublicKey.empty()) KelvoraPro1->SetPublicKey(Options.PublicKey);
  // The restart after an upgrade gets the same command line (the info
  // file's address, the key), not only the restart marker.
  KelvoraPro1->SetRestartArguments(ArgumentsToKeep(Options.Arguments, KelvoraPro1->RestartParams()));

  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&icc);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_3DFACE + 1);
  wc.lpszClassName = kClass;
  ::RegisterClassExW(&wc);
  // A single-line border, a system menu and a minimise box, no maximise box.
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClass, L"Kelvora Pro demo",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                            400, 300, nullptr, nullptr, wc.hInstance, this);
  const auto make = [this](const wchar_t* Class, const std::wstring& Text, DWORD Style, int Id) {
    return ::CreateWindowExW(0, Class, Text.c_str(), WS_CHILD | WS_VISIBLE | Style, 0, 0, 0, 0, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), ::GetModuleHandleW(nullptr), nullptr);
  };
  make(L"BUTTON", L"Check program updates...", BS_DEFPUSHBUTTON | WS_TABSTOP, idButton1);
  make(L"STATIC", L"Make your software auto-upgradable with just 1 line of code:", SS_NOPREFIX, idLabel4);
  make(L"STATIC", L"\"kvKelvora1.CheckUpdates\"", SS_NOPREFIX, idLabel5);
  make(L"STATIC", L"\"Updated version\" of this demo program will taken from", SS_NOPREFIX, idLabel1);
  make(L"STATIC", Wide(Options.ExeURL), SS_NOPREFIX | SS_NOTIFY | SS_ENDELLIPSIS, idURLLabel1);
  make(L"STATIC", L"Upgrade information stored at:", SS_NOPREFIX, idLabel6);
  make(L"STATIC", Wide(KelvoraPro1->InfoFileURL()), SS_NOPREFIX | SS_NOTIFY | SS_ENDELLIPSIS, idURLLabel2);
  make(L"STATIC", L"Progress:", SS_NOPREFIX, idLabel3);
  HWND bar = make(PROGRESS_CLASSW, L"", 0, idProgressBar1);
  ::SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  Layout();

  // Closing the window ends the application's loop; the component closes
  // the application this way at the end of an upgrade.
  Application().SetMainWindowClose([this] { Close(); });
}

TForm1::~TForm1() {
  Application().SetMainWindowClose(nullptr);
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  form_.reset();
  for (HFONT f : {font_, urlFont_})
    if (f != nullptr) ::DeleteObject(f);
}

void TForm1::Layout() {
  // The layout's 96-dpi positions, scaled to the window's DPI, in the
  // system's message font.
  const int dpi = static_cast<int>(DpiOf(hwnd_));
  const auto s = [dpi](int V) { return ::MulDiv(V, dpi, 96); };
  NONCLIENTMETRICSW ncm{};
  MessageFontMetrics(ncm, static_cast<UINT>(dpi));
  for (HFONT f : {font_, urlFont_})
    if (f != nullptr) ::DeleteObject(f);
  font_ = ::CreateFontIndirectW(&ncm.lfMessageFont);
  LOGFONTW u = ncm.lfMessageFont;
  u.lfUnderline = TRUE;
  urlFont_ = ::CreateFontIndirectW(&u);
  HDC dc = ::GetDC(hwnd_);
  HGDIOBJ old = ::SelectObject(dc, font_);
  TEXTMETRICW tm{};
  ::GetTextMetricsW(dc, &tm);
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd_, dc);
  const int line = tm.tmHeight;
  struct TPlace {
    int Id, X, Y, W, H;
  };
  const TPlace places[] = {{idButton1, 14, 6, 167, 25},  {idLabel4, 2, 36, 329, 0},   {idLabel5, 2, 50, 329, 0},
                           {idLabel1, 2, 80, 329, 0},    {idURLLabel1, 2, 94, 329, 0}, {idLabel6, 2, 120, 329, 0},
                           {idURLLabel2, 2, 134, 329, 0}, {idLabel3, 2, 168, 100, 0}, {idProgressBar1, 0, 183, 333, 13}};
  for (const TPlace& p : places) {
    HWND c = Item(hwnd_, p.Id);
    ::SendMessageW(c, WM_SETFONT,
                   reinterpret_cast<WPARAM>(p.Id == idURLLabel1 || p.Id == idURLLabel2 ? urlFont_ : font_), FALSE);
    ::SetWindowPos(c, nullptr, s(p.X), s(p.Y), s(p.W), p.H != 0 ? s(p.H) : line, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  RECT r{0, 0, s(333), s(196)};
  AdjustFrame(r, hwnd_, static_cast<UINT>(dpi));
  ::SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CALLBACK TForm1::Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  if (M == WM_NCCREATE) {
    auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(Lp)->lpCreateParams);
    self->hwnd_ = W;
    ::SetWindowLongPtrW(W, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(W, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(W, M, Wp, Lp);
  return self->Handle(W, M, Wp, Lp);
}

LRESULT TForm1::Handle(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  switch (M) {
    case WM_COMMAND:
      if (LOWORD(Wp) == idButton1 && HIWORD(Wp) == BN_CLICKED) Button1Click();
      if ((LOWORD(Wp) == idURLLabel1 || LOWORD(Wp) == idURLLabel2) && HIWORD(Wp) == STN_CLICKED) {
        wchar_t url[2048] = {};
        ::GetWindowTextW(reinterpret_cast<HWND>(Lp), url, 2048);
        ::ShellExecuteW(hwnd_, L"open", url, nullptr, nullptr, SW_SHOWNORMAL);
      }
      return 0;
    case WM_CTLCOLORSTATIC: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(Lp));
      HDC dc = reinterpret_cast<HDC>(Wp);
      ::SetBkMode(dc, TRANSPARENT);
      ::SetTextColor(dc, id == idURLLabel1 || id == idURLLabel2 ? RGB(0, 0, 128) : ::GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_3DFACE));
    }
    case WM_SETCURSOR: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(Wp));
      if (id == idURLLabel1 || id == idURLLabel2) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_DPICHANGED: {
      Layout();
      const RECT* r = reinterpret_cast<const RECT*>(Lp);
      ::SetWindowPos(hwnd_, nullptr, r->left, r->top, 0, 0, SWP_NOZORDER | SWP_NOSIZE | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE: ::DestroyWindow(W); return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      Application().Terminate();
      return 0;
    default: break;
  }
  return ::DefWindowProcW(W, M, Wp, Lp);
}

void TForm1::ClickCheckButton() { ::PostMessageW(Item(hwnd_, idButton1), BM_CLICK, 0, 0); }

void TForm1::Close() {
  if (hwnd_ != nullptr) ::SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void TForm1::Button1Click() { KelvoraPro1->CheckUpdates(false); }

void TForm1::KelvoraPro1Aborted() {
  ::SetWindowTextW(hwnd_, L"Upgrade aborted");
  ::SendMessageW(Item(hwnd_, idProgressBar1), PBM_SETPOS, 0, 0);
}

void TForm1::KelvoraPro1NoUpdateAvailable() { ::SetWindowTextW(hwnd_, L"No Update"); }

void TForm1::KelvoraPro1Progress(uint8_t PercentsDone) {
  ::SendMessageW(Item(hwnd_, idProgressBar1), PBM_SETPOS, PercentsDone, 0);
}

}  // namespace demo
