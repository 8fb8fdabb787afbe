// A window's picture as it is on the screen, saved as PNG.
#pragma once

#include <windows.h>

#include <string>

namespace kvtest {

// Copies the screen under Window (frame included) and writes Path as PNG;
// false when that failed.
bool SaveWindowPng(HWND Window, const std::wstring& Path);

}  // namespace kvtest
