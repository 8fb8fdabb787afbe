// The DPI a window is drawn at, and the metrics and frame for it, on every
// Windows the library supports. The calls made for this came with Windows 10
// 1607 (GetDpiForWindow, SystemParametersInfoForDpi,
// AdjustWindowRectExForDpi) and 8.1 (GetDpiForMonitor); each is looked up at
// run time, and older systems get the system DPI (the manifest makes the
// program system-aware there) with metrics scaled from it.
#pragma once

#include <windows.h>

namespace kelvora::win32ui {

// The DPI of Window: its own, else its monitor's, else the system's.
UINT WindowDpi(HWND Window);
// The system's DPI (the screen's logical pixels per inch).
UINT SystemDpi();
// The non-client metrics (message font and the rest) at Dpi.
bool NonClientMetrics(NONCLIENTMETRICSW& Metrics, UINT Dpi);
// Client rectangle R grown by the frame of a window of Style and ExStyle at
// Dpi.
bool AdjustFrame(RECT& R, DWORD Style, DWORD ExStyle, UINT Dpi);

// For the tests: act as on the oldest supported Windows (none of the newer
// calls found) while On is true. The window thread only.
void PretendOldestWindows(bool On);

}  // namespace kelvora::win32ui
