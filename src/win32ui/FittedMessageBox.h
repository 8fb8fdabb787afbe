// The system's message box, kept on the screen: a box that would be taller
// than the work area of its monitor (a long text) gets its text in a
// read-only box that scrolls, and its buttons move up with it.
#pragma once

#include <windows.h>
#undef MessageBox

#include <string>

namespace kelvora::win32ui {

// MessageBoxW with the same arguments and answer.
int FittedMessageBox(HWND Owner, const std::wstring& Text, const std::wstring& Caption, UINT Type);

}  // namespace kelvora::win32ui
