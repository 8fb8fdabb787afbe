#include "win32ui/WizardWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/win32/Wide.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/win32/kvWin32UpgradeUI.h"
#include "win32ui/Controls.h"
#include "win32ui/FittedMessageBox.h"

namespace kelvora::win32ui {

namespace {

constexpr int kClientW = 463, kClientH = 281;
// The current-file box and its rows: with or without the URL line.
constexpr int kBoxLeft = 136, kBoxWidth = 319;

std::wstring Blanked(int Slot) { return WinText(" " + GetLangText(Slot) + " "); }

}  // namespace

TWizardWindow* TWizardWindow::Open(const TkvWizardOptions& Options, TkvWizardHooks Hooks,
                                   std::function<void()> Gone) {
  auto* w = new TWizardWindow;
  w->options_ = Options;
  if (w->options_.AppTitle.empty()) w->options_.AppTitle = ProgramTitle();
  w->hooks_ = std::move(Hooks);
  w->gone_ = std::move(Gone);
  RegisterControlClasses();
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  const DWORD ex = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT |
                   (w->options_.StayOnTop ? WS_EX_TOPMOST : 0);
  if (CreateModeless(nullptr, Proc, reinterpret_cast<LPARAM>(w), style, ex, kWizardClass) == nullptr) {
    delete w;
    return nullptr;
  }
  AddModelessDialog(w->hwnd_);
  w->Fill();
  ::ShowWindow(w->hwnd_, SW_SHOW);
  ::UpdateWindow(w->hwnd_);
  return w;
}

void TWizardWindow::Reopen(const TkvWizardOptions& Options, TkvWizardHooks Hooks, std::function<void()> Gone) {
  options_ = Options;
  if (options_.AppTitle.empty()) options_.AppTitle = ProgramTitle();
  hooks_ = std::move(Hooks);
  gone_ = std::move(Gone);
  Fill();
  ::ShowWindow(hwnd_, SW_SHOW);
}

INT_PTR CALLBACK TWizardWindow::Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
  auto* self = reinterpret_cast<TWizardWindow*>(::GetWindowLongPtrW(W, DWLP_USER));
  if (M == WM_INITDIALOG) {
    self = reinterpret_cast<TWizardWindow*>(Lp);
    ::SetWindowLongPtrW(W, DWLP_USER, Lp);
    self->hwnd_ = W;
  }
  if (self == nullptr) return FALSE;
  if (M == WM_NCDESTROY) {
    RemoveModelessDialog(W);
    ::SetWindowLongPtrW(W, DWLP_USER, 0);
    if (auto gone = std::move(self->gone_)) gone();
    if (self->urlBrush_ != nullptr) ::DeleteObject(self->urlBrush_);
    delete self;
    return FALSE;
  }
  ++self->depth_;
  const INT_PTR r = self->Handle(M, Wp, Lp);
  if (--self->depth_ == 0 && self->disposeOnExit_) {
    // Freed once the handler that closed it has returned.
    self->disposeOnExit_ = false;
    ::DestroyWindow(W);  // self is gone after this
  }
  return r;
}

INT_PTR TWizardWindow::Handle(UINT M, WPARAM Wp, LPARAM Lp) {
  switch (M) {
    case WM_INITDIALOG: Create(); return FALSE;
    case WM_DPICHANGED:
      // Laid out in the new DPI's sizes, the window included, where the
      // system suggests.
      Layout();
      SizeClient(hwnd_, s_(kClientW), s_(kClientH), plAround, reinterpret_cast<const RECT*>(Lp));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(Lp) == Item(idFileURL)) {
        // The URL in the highlight colour on the window's face.
        HDC dc = reinterpret_cast<HDC>(Wp);
        ::SetTextColor(dc, ::GetSysColor(COLOR_HIGHLIGHT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_3DFACE));
        return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_3DFACE));
      }
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(Wp)) {
        case idFinishBtn:
          if (!closed_ && ::IsWindowEnabled(Item(idFinishBtn))) FormClose();
          return TRUE;
        case IDCANCEL:
          // The Cancel button and Esc: through the window's own close
          // command, as the close box, the system menu and Alt+F4.
          if (!closed_ && ::IsWindowEnabled(Item(idCancelBtn))) ::PostMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
          return TRUE;
        default: return FALSE;
      }
    case WM_SYSCOMMAND:
      if ((Wp & 0xFFF0) != SC_CLOSE) return FALSE;
      RequestClose();
      ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, 0);
      return TRUE;
    case WM_CLOSE: RequestClose(); return TRUE;
    default: return FALSE;
  }
}

void TWizardWindow::Create() {
  InitControls();
  s_ = ScaleOf(hwnd_);
  fonts_.Make(s_.Dpi);
  HFONT f = fonts_.Message();
  HWND pic = Child(hwnd_, kPictureClass, L"", 0, idImage, nullptr);
  SetBuiltInPicture(pic, bpWizard, true);
  // One line, never wrapped: a word that does not fit is cut, not moved
  // below the line where nobody sees it.
  Child(hwnd_, L"STATIC", L"", SS_NOPREFIX | SS_LEFTNOWORDWRAP, idWizardTitle, fonts_.Title());
  Child(hwnd_, L"STATIC", L"", SS_NOPREFIX, idAfterNote, f);
  Child(hwnd_, L"BUTTON", L"", BS_GROUPBOX, idLCurrentFile, f);
  Child(hwnd_, L"STATIC", L"", SS_NOPREFIX | SS_ENDELLIPSIS, idLDownloadingFileFrom, f);
  Child(hwnd_, L"EDIT", L"", ES_READONLY | ES_AUTOHSCROLL, idFileURL, fonts_.Small());
  Child(hwnd_, kTextLineClass, L"", 0, idLFileSize, f);
  Child(hwnd_, kTextLineClass, L"", 0, idLTransferRate, f);
  Child(hwnd_, kTextLineClass, L"", 0, idLEstimatedTime, f);
  HWND p1 = Child(hwnd_, PROGRESS_CLASSW, L"", 0, idProgressCurrentFile, nullptr);
  Child(hwnd_, L"BUTTON", L"", BS_GROUPBOX, idLAllFiles, f);
  Child(hwnd_, kTextLineClass, L"", 0, idAllDownloading, f);
  HWND p2 = Child(hwnd_, PROGRESS_CLASSW, L"", 0, idProgressAllFiles, nullptr);
  for (HWND p : {p1, p2}) ::SendMessageW(p, PBM_SETRANGE32, 0, 100);
  Child(hwnd_, L"STATIC", L"", SS_ETCHEDHORZ, idBevel1, nullptr);
  Child(hwnd_, kEngravedClass, L"", 0, idAboutLabel, fonts_.Small());
  HWND finish = Child(hwnd_, L"BUTTON", L"", BS_PUSHBUTTON | WS_TABSTOP, idFinishBtn, f);
  ::EnableWindow(finish, FALSE);
  Child(hwnd_, L"BUTTON", L"", BS_DEFPUSHBUTTON | WS_TABSTOP, idCancelBtn, f);
  ::SendMessageW(hwnd_, DM_SETDEFID, idCancelBtn, 0);
  // The URL line is above the figures in the tab order of the system's
  // dialogs, but never a tab stop: it can be selected, not typed into.
  ::SetWindowPos(Item(idAboutLabel), Item(idBevel1), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TWizardWindow::Fill() {
  SetText(Item(idAboutLabel), win32::Wide(" " + GetResourceText(kProductNameTextId) + " "));
  ::SetWindowPos(hwnd_, options_.StayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
  if (HBITMAP b = LoadBitmapFile(options_.PicturePath))
    SetBitmapPicture(Item(idImage), b, true);
  else
    SetBuiltInPicture(Item(idImage), bpWizard, true);
  SetText(Item(idLEstimatedTime), WinText(GetLangText(ltPreparing)));
  SetText(hwnd_, WinText(GetLangText(ltWizardCaption)));
  SetText(Item(idWizardTitle), WinText(GetLangText(ltDownloadingTitle)));
  SetText(Item(idLCurrentFile), Blanked(ltCurrentFile));
  SetText(Item(idLAllFiles), Blanked(ltAllFiles));
  SetText(Item(idLDownloadingFileFrom), WinText(GetLangText(ltDownloadingFrom)));
  SetText(Item(idFinishBtn), WinText(GetLangText(ltNext)));
  SetText(Item(idCancelBtn), WinText(GetLangText(ltCancel)));
  const bool hide = options_.HideFileLocation;
  ::ShowWindow(Item(idLDownloadingFileFrom), hide ? SW_HIDE : SW_SHOW);
  ::ShowWindow(Item(idFileURL), hide ? SW_HIDE : SW_SHOW);
  Layout();
  SizeClient(hwnd_, s_(kClientW), s_(kClientH), ::IsWindowVisible(hwnd_) ? plKept : plCentred);
}

void TWizardWindow::Layout() {
  const TScale s = s_ = ScaleOf(hwnd_);
  fonts_.Make(s.Dpi);
  for (HWND c = ::GetWindow(hwnd_, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
    const int id = ::GetDlgCtrlID(c);
    HFONT f = id == idWizardTitle ? fonts_.Title()
              : (id == idFileURL || id == idAboutLabel) ? fonts_.Small()
                                                         : fonts_.Message();
    ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
  }
  const int line = TextExtent(hwnd_, fonts_.Message(), L"Ag").cy;
  Place(Item(idImage), s(10), s(10), s(120), s(220));

  // The title in the largest size up to 19 pixels (at 96 dpi) that fits
  // beside the picture.
  const std::wstring title = WinText(TextOf(Item(idWizardTitle)));
  SIZE t{};
  for (int px = 19;; --px) {
    fonts_.MakeTitle(s.Dpi, px);
    t = TextExtent(hwnd_, fonts_.Title(), title);
    if (t.cx <= s(kBoxWidth) || px <= 12) break;
  }
  ::SendMessageW(Item(idWizardTitle), WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.Title()), FALSE);
  Place(Item(idWizardTitle), s(136), s(10), std::min<int>(t.cx + s(2), s(kBoxWidth)), t.cy);

  const std::wstring note = WinText(TextOf(Item(idAfterNote)));
  const SIZE n = TextExtent(hwnd_, fonts_.Message(), note, s(kBoxWidth));
  Place(Item(idAfterNote), s(136), s(44), s(kBoxWidth), std::max<int>(n.cy, s(13)));

  // The current-file box: without the URL line its rows move up, and the
  // box moves down and shrinks.
  const bool hide = options_.HideFileLocation;
  const int boxTop = s(hide ? 44 : 34), boxH = s(hide ? 95 : 125);
  const int bx = s(kBoxLeft), rowW = s(307);
  Place(Item(idLCurrentFile), bx, boxTop, s(kBoxWidth), boxH);
  const std::wstring from = WinText(TextOf(Item(idLDownloadingFileFrom)));
  Place(Item(idLDownloadingFileFrom), bx + s(6), boxTop + s(14),
        std::min<int>(TextExtent(hwnd_, fonts_.Message(), from).cx, rowW), line);
  // The address runs to the box's inner edge: the edit control sets margins
  // (from its font) beside the text, which a width of the text's own left
  // no room for.
  const int urlH = TextExtent(hwnd_, fonts_.Small(), L"Ag").cy;
  Place(Item(idFileURL), bx + s(10), boxTop + s(28), s(kBoxWidth) - s(16), urlH);
  const int first = s(hide ? 14 : 44);
  Place(Item(idLFileSize), bx + s(6), boxTop + first, rowW, line);
  Place(Item(idLTransferRate), bx + s(6), boxTop + first + s(16), rowW, line);
  Place(Item(idLEstimatedTime), bx + s(6), boxTop + first + s(32), rowW, line);
  Place(Item(idProgressCurrentFile), bx + s(6), boxTop + first + s(52), rowW, s(22));

  Place(Item(idLAllFiles), bx, s(162), s(kBoxWidth), s(67));
  Place(Item(idAllDownloading), bx + s(6), s(162) + s(16), rowW, line);
  Place(Item(idProgressAllFiles), bx + s(6), s(162) + s(38), rowW, s(22));

  Place(Item(idBevel1), s(10), s(238), s(447), s(2));
  const std::wstring about = WinText(TextOf(Item(idAboutLabel)));
  const SIZE a = TextExtent(hwnd_, fonts_.Small(), about);
  Place(Item(idAboutLabel), s(30), s(238) - a.cy / 2, a.cx + 1, a.cy + 1);
  PlaceButtons();
}

void TWizardWindow::PlaceButtons() {
  // Right-aligned; a button grows leftwards when its text needs more room.
  int right = s_(455);
  for (int id : {idCancelBtn, idFinishBtn}) {
    const int w = ButtonWidth(Item(id), s_, 75);
    Place(Item(id), right - w, s_(248), w, s_(25));
    right -= w + s_(9);
  }
}

void TWizardWindow::SetLine(int Id, const std::string& Text) { SetText(Item(Id), WinText(Text)); }

void TWizardWindow::SetFile(const std::string& URL, const std::string& Count) {
  SetText(Item(idFileURL), win32::Wide(URL));
  ::SendMessageW(Item(idFileURL), EM_SETSEL, 0, 0);
  SetLine(idAllDownloading, Count);
}

void TWizardWindow::SetFileSize(const std::string& Text) { SetLine(idLFileSize, Text); }

void TWizardWindow::SetProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                const std::string& TimeLeft) {
  const auto set = [](HWND Bar, int Value) {
    Value = std::clamp(Value, 0, 100);
    if (static_cast<int>(::SendMessageW(Bar, PBM_GETPOS, 0, 0)) != Value) ::SendMessageW(Bar, PBM_SETPOS, Value, 0);
  };
  set(Item(idProgressCurrentFile), PercentsDone);
  set(Item(idProgressAllFiles), TotalPercentsDone);
  SetLine(idLTransferRate, TransferRate);
  SetLine(idLEstimatedTime, TimeLeft);
}

void TWizardWindow::ShowCompleted() {
  completed_ = true;
  SetLine(idWizardTitle, GetLangText(ltCompletedTitle));
  SetLine(idAfterNote, FormatLangText(ltCompletedNote, {options_.AppTitle}));
  for (int id : {idLCurrentFile, idLAllFiles, idLDownloadingFileFrom, idFileURL, idLFileSize, idLTransferRate,
                 idLEstimatedTime, idProgressCurrentFile, idAllDownloading, idProgressAllFiles})
    ::ShowWindow(Item(id), SW_HIDE);
  SetLine(idFinishBtn, GetLangText(ltOK));
  ::EnableWindow(Item(idFinishBtn), TRUE);
  ::SendMessageW(hwnd_, DM_SETDEFID, idFinishBtn, 0);
  ::SendMessageW(Item(idCancelBtn), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  ::EnableWindow(Item(idCancelBtn), FALSE);
  Layout();
  // The page changed under the controls that moved or were hidden: paint it
  // whole, so nothing of the download page stays behind.
  ::RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(idFinishBtn)), TRUE);
}

void TWizardWindow::Dispose() {
  closed_ = true;
  hooks_ = {};
  gone_ = nullptr;
  if (depth_ > 0) {
    ::ShowWindow(hwnd_, SW_HIDE);
    disposeOnExit_ = true;
  } else {
    ::DestroyWindow(hwnd_);
  }
}

TkvWizardHooks TWizardWindow::FormClose() {
  closed_ = true;
  ::ShowWindow(hwnd_, SW_HIDE);
  disposeOnExit_ = true;  // destroyed when the handler that closed it returns
  TkvWizardHooks hooks = std::move(hooks_);
  hooks_ = {};
  if (auto gone = std::move(gone_)) gone();
  if (hooks.Closed) hooks.Closed();
  return hooks;
}

void TWizardWindow::RequestClose() {
  if (closed_ || asking_) return;
  asking_ = true;
  // No is the default: an Enter pressed by habit keeps the download going.
  const int answer = FittedMessageBox(hwnd_, WinText(GetLangText(ltAbortQuestion)), WinText(options_.AppTitle),
                                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  asking_ = false;
  // The engine may have destroyed the window while the question was open.
  if (closed_ || answer != IDYES) return;
  TkvWizardHooks hooks = FormClose();
  if (hooks.Abort) hooks.Abort();
}

}  // namespace kelvora::win32ui
