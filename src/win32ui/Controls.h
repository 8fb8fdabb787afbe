// The window's own small controls, each a window class of this library:
//  - a picture: the built-in drawing or a bitmap file stretched to its size,
//    optionally inside a lowered one-pixel bevel;
//  - a text line that repaints without erasing first (double-buffered), for
//    the figures that change many times a second during a download;
//  - an engraved text: a light copy one pixel lower right under a
//    shadow-coloured one, on the window's face colour.
#pragma once

#include <windows.h>
#undef MessageBox

#include <string>

namespace kelvora::win32ui {

inline constexpr wchar_t kPictureClass[] = L"KvPicture";
inline constexpr wchar_t kTextLineClass[] = L"KvTextLine";
inline constexpr wchar_t kEngravedClass[] = L"KvEngraved";

enum TBuiltInPicture { bpWizard, bpDialogIcon };

void RegisterControlClasses();

// The picture control's content: a built-in drawing (drawn at the control's
// size, so sharp at any DPI), or a bitmap the control takes over.
void SetBuiltInPicture(HWND Picture, TBuiltInPicture Which, bool Bevel);
void SetBitmapPicture(HWND Picture, HBITMAP Bitmap, bool Bevel);
// A bitmap file (.bmp), or null.
HBITMAP LoadBitmapFile(const std::string& Path);

// Draws the built-in picture into Rect of DC, scaled from its 96-dpi size.
void DrawBuiltIn(HDC DC, const RECT& Rect, TBuiltInPicture Which);

}  // namespace kelvora::win32ui
