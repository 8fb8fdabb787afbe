#include "win32ui/Controls.h"

#include <mutex>

#include "framework/win32/Wide.h"

namespace kelvora::win32ui {

namespace {

// The 16 colours of the standard palette the drawings use.
constexpr COLORREF kNavy = RGB(0, 0, 128), kBlue = RGB(0, 0, 255), kTeal = RGB(0, 128, 128),
                   kCyan = RGB(0, 255, 255), kGreen = RGB(0, 128, 0), kLime = RGB(0, 255, 0),
                   kSilver = RGB(192, 192, 192), kGray = RGB(128, 128, 128), kWhite = RGB(255, 255, 255),
                   kBlack = RGB(0, 0, 0), kYellow = RGB(255, 255, 0);

struct TPen {
  TPen(HDC Dc, COLORREF Pen, COLORREF Brush, bool NoBrush = false) : dc(Dc) {
    pen = ::CreatePen(PS_SOLID, 1, Pen);
    brush = NoBrush ? static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH)) : ::CreateSolidBrush(Brush);
    ownBrush = !NoBrush;
    oldPen = ::SelectObject(dc, pen);
    oldBrush = ::SelectObject(dc, brush);
  }
  ~TPen() {
    ::SelectObject(dc, oldPen);
    ::SelectObject(dc, oldBrush);
    ::DeleteObject(pen);
    if (ownBrush) ::DeleteObject(brush);
  }
  HDC dc;
  HPEN pen;
  HBRUSH brush;
  bool ownBrush;
  HGDIOBJ oldPen, oldBrush;
};

void Fill(HDC Dc, int X, int Y, int W, int H, COLORREF C) {
  HBRUSH b = ::CreateSolidBrush(C);
  RECT r{X, Y, X + W, Y + H};
  ::FillRect(Dc, &r, b);
  ::DeleteObject(b);
}

void Line(HDC Dc, int X1, int Y1, int X2, int Y2, COLORREF C) {
  TPen p(Dc, C, C, true);
  ::MoveToEx(Dc, X1, Y1, nullptr);
  ::LineTo(Dc, X2, Y2);
}

void Globe(HDC Dc, int L, int T, int W, int H) {
  {
    TPen p(Dc, kNavy, kBlue);
    ::Ellipse(Dc, L, T, L + W, T + H);
  }
  const int cx = L + W / 2, cy = T + H / 2;
  {
    TPen p(Dc, kCyan, 0, true);
    ::Ellipse(Dc, L + W / 4, T, L + W - W / 4, T + H);
  }
  Line(Dc, cx, T, cx, T + H, kCyan);
  Line(Dc, L, cy, L + W, cy, kCyan);
  Line(Dc, L + W / 10, cy - H / 4, L + W - W / 10, cy - H / 4, kCyan);
  Line(Dc, L + W / 10, cy + H / 4, L + W - W / 10, cy + H / 4, kCyan);
  TPen p(Dc, kGreen, kGreen);
  ::Ellipse(Dc, L + W / 5, T + H / 5, L + W / 5 + W / 4, T + H / 5 + H / 3);
  ::Ellipse(Dc, L + W / 2, T + H / 2, L + W / 2 + W / 3, T + H / 2 + H / 4);
}

void ArrowDown(HDC Dc, int Cx, int Top, int Bottom, int Width) {
  const int shaft = Width / 3, head = (Bottom - Top) / 3;
  POINT pts[] = {{Cx - shaft / 2, Top},          {Cx + shaft / 2, Top},          {Cx + shaft / 2, Bottom - head},
                 {Cx + Width / 2, Bottom - head}, {Cx, Bottom},                   {Cx - Width / 2, Bottom - head},
                 {Cx - shaft / 2, Bottom - head}};
  TPen p(Dc, kGreen, kLime);
  ::Polygon(Dc, pts, 7);
}

void DrawWizardPicture(HDC Dc) {
  const COLORREF bands[] = {kNavy, kBlue, kTeal};
  for (int i = 0; i < 3; ++i) Fill(Dc, 0, i * 40, 118, 40, bands[i]);
  Fill(Dc, 0, 120, 118, 98, kTeal);
  for (int y = 124; y < 218; y += 6) Line(Dc, 0, y, 118, y, kCyan);
  Globe(Dc, 29, 14, 60, 60);
  ArrowDown(Dc, 59, 80, 118, 30);
  {
    TPen p(Dc, kBlack, kSilver);
    ::Rectangle(Dc, 17, 124, 102, 183);
  }
  {
    TPen p(Dc, kBlack, kNavy);
    ::Rectangle(Dc, 24, 130, 95, 175);
  }
  for (int i = 0; i < 4; ++i) Line(Dc, 30, 138 + i * 9, 81 - i * 9, 138 + i * 9, kWhite);
  {
    TPen p(Dc, kBlack, kGray);
    ::Rectangle(Dc, 47, 183, 72, 192);
  }
  {
    TPen p(Dc, kBlack, kSilver);
    ::Rectangle(Dc, 12, 193, 107, 208);
  }
  for (int x = 16; x < 104; x += 6) Line(Dc, x, 196, x, 205, kGray);
  ::SetPixel(Dc, 96, 177, kYellow);
}

void DrawDialogIcon(HDC Dc) {
  Globe(Dc, 1, 1, 24, 24);
  ArrowDown(Dc, 23, 12, 31, 14);
}

struct TPicture {
  TBuiltInPicture Which = bpWizard;
  HBITMAP Bitmap = nullptr;
  bool Bevel = false;
  ~TPicture() {
    if (Bitmap != nullptr) ::DeleteObject(Bitmap);
  }
};

TPicture* PictureOf(HWND W) { return reinterpret_cast<TPicture*>(::GetWindowLongPtrW(W, 0)); }

void PaintPicture(HWND W, HDC Dc) {
  RECT r;
  ::GetClientRect(W, &r);
  TPicture* p = PictureOf(W);
  // The parent's face behind a transparent icon.
  ::FillRect(Dc, &r, ::GetSysColorBrush(COLOR_3DFACE));
  if (p == nullptr) return;
  RECT inner = r;
  if (p->Bevel) {
    ::DrawEdge(Dc, &r, BDR_SUNKENOUTER, BF_RECT);
    ::InflateRect(&inner, -1, -1);
  }
  if (p->Bitmap != nullptr) {
    BITMAP bm{};
    ::GetObjectW(p->Bitmap, sizeof bm, &bm);
    HDC src = ::CreateCompatibleDC(Dc);
    HGDIOBJ old = ::SelectObject(src, p->Bitmap);
    ::SetStretchBltMode(Dc, HALFTONE);
    ::SetBrushOrgEx(Dc, 0, 0, nullptr);
    ::StretchBlt(Dc, inner.left, inner.top, inner.right - inner.left, inner.bottom - inner.top, src, 0, 0, bm.bmWidth,
                 bm.bmHeight, SRCCOPY);
    ::SelectObject(src, old);
    ::DeleteDC(src);
    return;
  }
  DrawBuiltIn(Dc, inner, p->Which);
}

// Paints through a bitmap of the control's size: nothing is erased on the
// screen first, so a changing picture or text never flickers.
template <class F>
void BufferedPaint(HWND W, F Paint) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(W, &ps);
  RECT r;
  ::GetClientRect(W, &r);
  HDC mem = ::CreateCompatibleDC(dc);
  HBITMAP bmp = ::CreateCompatibleBitmap(dc, r.right > 0 ? r.right : 1, r.bottom > 0 ? r.bottom : 1);
  HGDIOBJ old = ::SelectObject(mem, bmp);
  Paint(mem, r);
  ::BitBlt(dc, 0, 0, r.right, r.bottom, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bmp);
  ::DeleteDC(mem);
  ::EndPaint(W, &ps);
}

HFONT FontOf(HWND W) { return reinterpret_cast<HFONT>(::GetWindowLongPtrW(W, sizeof(LONG_PTR))); }

// Fields shared by the text classes: slot 0 the picture, slot 1 the font.
LRESULT TextCommon(HWND W, UINT M, WPARAM Wp, LPARAM Lp, bool& Handled) {
  Handled = true;
  switch (M) {
    case WM_SETFONT:
      ::SetWindowLongPtrW(W, sizeof(LONG_PTR), static_cast<LONG_PTR>(Wp));
      if (LOWORD(Lp)) ::InvalidateRect(W, nullptr, FALSE);
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(FontOf(W));
    case WM_ERASEBKGND: return 1;
    case WM_SETTEXT: {
      const LRESULT r = ::DefWindowProcW(W, M, Wp, Lp);
      ::InvalidateRect(W, nullptr, FALSE);
      return r;
    }
    case WM_ENABLE: ::InvalidateRect(W, nullptr, FALSE); return 0;
    default: Handled = false; return 0;
  }
}

std::wstring OwnText(HWND W) {
  const int n = ::GetWindowTextLengthW(W);
  std::wstring t(static_cast<size_t>(n) + 1, L'\0');
  t.resize(static_cast<size_t>(::GetWindowTextW(W, t.data(), n + 1)));
  return t;
}

LRESULT CALLBACK TextLineProc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  bool handled;
  const LRESULT r = TextCommon(W, M, Wp, Lp, handled);
  if (handled) return r;
  if (M == WM_PAINT) {
    BufferedPaint(W, [W](HDC Dc, const RECT& R) {
      ::FillRect(Dc, &R, ::GetSysColorBrush(COLOR_3DFACE));
      HGDIOBJ old = ::SelectObject(Dc, FontOf(W));
      ::SetBkMode(Dc, TRANSPARENT);
      ::SetTextColor(Dc, ::GetSysColor(COLOR_WINDOWTEXT));
      const std::wstring t = OwnText(W);
      RECT rr = R;
      const bool rtl = (::GetWindowLongPtrW(W, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
      ::DrawTextW(Dc, t.c_str(), static_cast<int>(t.size()), &rr,
                  DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | (rtl ? DT_RTLREADING : 0));
      ::SelectObject(Dc, old);
    });
    return 0;
  }
  return ::DefWindowProcW(W, M, Wp, Lp);
}

LRESULT CALLBACK EngravedProc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  bool handled;
  const LRESULT r = TextCommon(W, M, Wp, Lp, handled);
  if (handled) return r;
  if (M == WM_PAINT) {
    BufferedPaint(W, [W](HDC Dc, const RECT& R) {
      // The face colour interrupts the separator line behind the name.
      ::FillRect(Dc, &R, ::GetSysColorBrush(COLOR_3DFACE));
      HGDIOBJ old = ::SelectObject(Dc, FontOf(W));
      ::SetBkMode(Dc, TRANSPARENT);
      const std::wstring t = OwnText(W);
      RECT light = R;
      ::OffsetRect(&light, 1, 1);
      ::SetTextColor(Dc, ::GetSysColor(COLOR_3DHILIGHT));
      ::DrawTextW(Dc, t.c_str(), static_cast<int>(t.size()), &light, DT_SINGLELINE | DT_NOPREFIX);
      RECT dark = R;
      ::SetTextColor(Dc, ::GetSysColor(COLOR_3DSHADOW));
      ::DrawTextW(Dc, t.c_str(), static_cast<int>(t.size()), &dark, DT_SINGLELINE | DT_NOPREFIX);
      ::SelectObject(Dc, old);
    });
    return 0;
  }
  return ::DefWindowProcW(W, M, Wp, Lp);
}

LRESULT CALLBACK PictureProc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  switch (M) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: BufferedPaint(W, [W](HDC Dc, const RECT&) { PaintPicture(W, Dc); }); return 0;
    case WM_NCDESTROY: delete PictureOf(W); ::SetWindowLongPtrW(W, 0, 0); break;
    default: break;
  }
  return ::DefWindowProcW(W, M, Wp, Lp);
}

void Register(const wchar_t* Name, WNDPROC Proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.cbWndExtra = 2 * sizeof(LONG_PTR);
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = Name;
  ::RegisterClassExW(&wc);
}

TPicture& EnsurePicture(HWND W) {
  TPicture* p = PictureOf(W);
  if (p == nullptr) {
    p = new TPicture;
    ::SetWindowLongPtrW(W, 0, reinterpret_cast<LONG_PTR>(p));
  }
  return *p;
}

}  // namespace

void RegisterControlClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    Register(kPictureClass, PictureProc);
    Register(kTextLineClass, TextLineProc);
    Register(kEngravedClass, EngravedProc);
  });
}

void SetBuiltInPicture(HWND Picture, TBuiltInPicture Which, bool Bevel) {
  TPicture& p = EnsurePicture(Picture);
  if (p.Bitmap != nullptr) ::DeleteObject(p.Bitmap);
  p.Bitmap = nullptr;
  p.Which = Which;
  p.Bevel = Bevel;
  ::InvalidateRect(Picture, nullptr, FALSE);
}

void SetBitmapPicture(HWND Picture, HBITMAP Bitmap, bool Bevel) {
  TPicture& p = EnsurePicture(Picture);
  if (p.Bitmap != nullptr && p.Bitmap != Bitmap) ::DeleteObject(p.Bitmap);
  p.Bitmap = Bitmap;
  p.Bevel = Bevel;
  ::InvalidateRect(Picture, nullptr, FALSE);
}

HBITMAP LoadBitmapFile(const std::string& Path) {
  if (Path.empty()) return nullptr;
  return static_cast<HBITMAP>(
      ::LoadImageW(nullptr, win32::Wide(Path).c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
}

void DrawBuiltIn(HDC Dc, const RECT& Rect, TBuiltInPicture Which) {
  // Drawn in the picture's own 96-dpi units, scaled to Rect.
  const int w = Which == bpWizard ? 118 : 32, h = Which == bpWizard ? 218 : 32;
  const int saved = ::SaveDC(Dc);
  ::SetGraphicsMode(Dc, GM_ADVANCED);
  XFORM x{};
  x.eM11 = static_cast<FLOAT>(Rect.right - Rect.left) / w;
  x.eM22 = static_cast<FLOAT>(Rect.bottom - Rect.top) / h;
  x.eDx = static_cast<FLOAT>(Rect.left);
  x.eDy = static_cast<FLOAT>(Rect.top);
  ::SetWorldTransform(Dc, &x);
  ::IntersectClipRect(Dc, 0, 0, w, h);
  if (Which == bpWizard)
    DrawWizardPicture(Dc);
  else
    DrawDialogIcon(Dc);
  ::RestoreDC(Dc, saved);
}

}  // namespace kelvora::win32ui
