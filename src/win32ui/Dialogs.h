// What the native windows share: sizes at the window's DPI, the system's
// message font, texts as UTF-16 with Windows line breaks, dialogs built
// from an empty template whose controls are placed in pixels, and the
// keyboard handling of modeless dialogs under any message loop.
#pragma once

#include <windows.h>
#undef MessageBox

#include <string>

namespace kelvora::win32ui {

// Sizes given at 96 dpi, scaled to a window's DPI.
struct TScale {
  UINT Dpi = 96;
  int operator()(int Value) const { return ::MulDiv(Value, static_cast<int>(Dpi), 96); }
};
TScale ScaleOf(HWND Window);

// The fonts of one DPI: the system's message font, and the same face at
// given pixel heights (96 dpi) for the few texts the layout sets apart.
class TFonts {
 public:
  TFonts() = default;
  ~TFonts();
  TFonts(const TFonts&) = delete;
  TFonts& operator=(const TFonts&) = delete;
  void Make(UINT Dpi);
  // The title font again, PixelHeight high at 96 dpi (19 by default).
  void MakeTitle(UINT Dpi, int PixelHeight);
  HFONT Message() const { return message_; }
  HFONT Title() const { return title_; }  // larger, bold
  HFONT Small() const { return small_; }  // the URL line and the product name

 private:
  void Free();
  HFONT message_ = nullptr, title_ = nullptr, small_ = nullptr;
  LOGFONTW base_{};
};

// UTF-8 text as UTF-16 with every line break as CR LF ("\r", "\n" and
// "\r\n" each count as one break).
std::wstring WinText(const std::string& Text);
// The text of a window, as UTF-8.
std::string TextOf(HWND Window);
// The width and height Text needs in Font: one line, or wrapped at Width.
SIZE TextExtent(HWND Window, HFONT Font, const std::wstring& Text, int WrapWidth = 0, bool Prefix = false);

// A child control at a pixel rectangle, with a font.
HWND Child(HWND Parent, const wchar_t* Class, const std::wstring& Text, DWORD Style, int Id, HFONT Font,
           DWORD ExStyle = 0);
void Place(HWND Window, int X, int Y, int W, int H);
void SetText(HWND Window, const std::wstring& Text);
// A button's width: MinAt96 scaled, or what its text needs with margins.
int ButtonWidth(HWND Button, const TScale& S, int MinAt96);

// A dialog with no controls of its own (they are created in WM_INITDIALOG);
// Modal true runs DialogBoxIndirectParam, false CreateDialogIndirectParam.
INT_PTR RunDialog(HWND Owner, DLGPROC Proc, LPARAM Param, DWORD Style, DWORD ExStyle, const wchar_t* Class);
HWND CreateModeless(HWND Owner, DLGPROC Proc, LPARAM Param, DWORD Style, DWORD ExStyle, const wchar_t* Class);
// Registers Class as a dialog class (the system's dialog procedure and
// extra bytes), so tests and hosts find the windows by their class names.
void RegisterDialogClass(const wchar_t* Class);

// Where a dialog goes when it is sized: centred on the monitor it opens on,
// where it is, or centred on the rectangle the system suggests after a DPI
// change (on the monitor of that rectangle).
enum TPlacement { plCentred, plKept, plAround };

// The work area of the monitor Dialog opens on (its owner's, else its own),
// or of the monitor Around lies on.
RECT WorkAreaOf(HWND Dialog, const RECT* Around = nullptr);
// The size the frame and caption add to a client area at Dialog's DPI.
SIZE FrameSize(HWND Dialog);
// Sizes Dialog so its client area is W x H at its DPI, places it as How
// says, and moves it inside the work area, so its caption and buttons are
// on the screen.
void SizeClient(HWND Dialog, int W, int H, TPlacement How, const RECT* Around = nullptr);

// Keyboard navigation (Tab, Enter, Esc, access keys) for a modeless dialog,
// whatever loop serves the thread: a message hook that hands the dialog's
// messages to IsDialogMessage while it is registered.
void AddModelessDialog(HWND Dialog);
void RemoveModelessDialog(HWND Dialog);

// The lowest window the program shows at the moment: the active window of
// this thread, for message boxes to belong to.
HWND ActiveOwner();

// Common controls 6 (progress bars, themed buttons), once per process.
void InitControls();

// An access key for a label: "&" before the first letter (of Text) that
// none of Taken holds; Text unchanged when there is none. Taken gets it.
std::wstring WithAccessKey(const std::wstring& Text, std::wstring& Taken);
// The access keys already in Text ("&x").
std::wstring AccessKeysOf(const std::wstring& Text);

}  // namespace kelvora::win32ui
