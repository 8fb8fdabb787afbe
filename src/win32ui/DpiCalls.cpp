#include "win32ui/DpiCalls.h"

#include <initializer_list>

#include "framework/win32/NewerCall.h"

namespace kelvora::win32ui {
namespace {

// GetDpiForMonitor's MDT_EFFECTIVE_DPI.
constexpr int kEffectiveDpi = 0;

struct TDpiCalls {
  UINT(WINAPI* ForWindow)(HWND) = nullptr;
  BOOL(WINAPI* MetricsForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;
  BOOL(WINAPI* AdjustForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  HRESULT(WINAPI* ForMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;
};

bool pretendOldest = false;

const TDpiCalls& Calls() {
  static const TDpiCalls found = [] {
    TDpiCalls c;
    c.ForWindow = win32::NewerCall<decltype(c.ForWindow)>(L"user32.dll", "GetDpiForWindow");
    c.MetricsForDpi = win32::NewerCall<decltype(c.MetricsForDpi)>(L"user32.dll", "SystemParametersInfoForDpi");
    c.AdjustForDpi = win32::NewerCall<decltype(c.AdjustForDpi)>(L"user32.dll", "AdjustWindowRectExForDpi");
    // Windows 8.1's per-monitor DPI lives in shcore.dll, which nothing else
    // loads: from the system folder only (the flag needs Windows 7's update
    // KB2533623; without it the load fails, as it would on 7 anyway).
    if (c.ForWindow == nullptr) {
      if (HMODULE shcore = ::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        c.ForMonitor = reinterpret_cast<decltype(c.ForMonitor)>(
            reinterpret_cast<void*>(::GetProcAddress(shcore, "GetDpiForMonitor")));
    }
    return c;
  }();
  static const TDpiCalls none;
  return pretendOldest ? none : found;
}

}  // namespace

void PretendOldestWindows(bool On) { pretendOldest = On; }

UINT SystemDpi() {
  HDC dc = ::GetDC(nullptr);
  const int dpi = dc != nullptr ? ::GetDeviceCaps(dc, LOGPIXELSY) : 0;
  if (dc != nullptr) ::ReleaseDC(nullptr, dc);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND Window) {
  if (Window != nullptr && Calls().ForWindow != nullptr) {
    if (const UINT dpi = Calls().ForWindow(Window)) return dpi;
  }
  if (Window != nullptr && Calls().ForMonitor != nullptr) {
    UINT x = 0, y = 0;
    if (SUCCEEDED(Calls().ForMonitor(::MonitorFromWindow(Window, MONITOR_DEFAULTTONEAREST), kEffectiveDpi, &x, &y)) &&
        y != 0)
      return y;
  }
  return SystemDpi();
}

bool NonClientMetrics(NONCLIENTMETRICSW& Metrics, UINT Dpi) {
  Metrics.cbSize = sizeof Metrics;
  if (Calls().MetricsForDpi != nullptr && Calls().MetricsForDpi(SPI_GETNONCLIENTMETRICS, sizeof Metrics, &Metrics, 0, Dpi))
    return true;
  // The system's metrics are those of the system DPI, not of 96.
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof Metrics, &Metrics, 0)) return false;
  const int from = static_cast<int>(SystemDpi()), to = static_cast<int>(Dpi);
  if (from != to) {
    for (LOGFONTW* f : {&Metrics.lfCaptionFont, &Metrics.lfSmCaptionFont, &Metrics.lfMenuFont, &Metrics.lfStatusFont,
                        &Metrics.lfMessageFont})
      f->lfHeight = ::MulDiv(f->lfHeight, to, from);
  }
  return true;
}

bool AdjustFrame(RECT& R, DWORD Style, DWORD ExStyle, UINT Dpi) {
  if (Calls().AdjustForDpi != nullptr && Calls().AdjustForDpi(&R, Style, FALSE, ExStyle, Dpi)) return true;
  return ::AdjustWindowRectEx(&R, Style, FALSE, ExStyle) != FALSE;
}

}  // namespace kelvora::win32ui
