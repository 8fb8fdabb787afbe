// A dialog's message text that never pushes the buttons off the screen: a
// label while it fits the room it is given, otherwise a read-only box of
// that height whose lines scroll.
#pragma once

#include <windows.h>
#undef MessageBox

#include <string>

namespace kelvora::win32ui {

// Puts Text into the child Id of Dialog at Left, Top, Width wide, as a
// label or (taller than Room) a scrolling box, replacing the child when its
// kind changes; returns the height it takes.
int PlaceBoundedText(HWND Dialog, int Id, const std::wstring& Text, HFONT Font, int Left, int Top, int Width,
                     int Room);

// Whether the child is the scrolling box (painted in the window colour).
bool IsTextBox(HWND Child);

// The room a dialog's text may take: the dialog at most two thirds of the
// work area's height, and inside it; Fixed is the client height of the
// rest. At least MinRoom.
int TextRoom(HWND Dialog, const RECT* Around, int Fixed, int MinRoom);

}  // namespace kelvora::win32ui
