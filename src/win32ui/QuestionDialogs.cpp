#include "win32ui/QuestionDialogs.h"

#include <algorithm>

#include "framework/win32/Wide.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/win32/kvWin32UpgradeUI.h"
#include "win32ui/BoundedText.h"
#include "win32ui/Controls.h"
#include "win32ui/Dialogs.h"

namespace kelvora::win32ui {

namespace {

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
// Topmost, so the question stays above the application's own windows.
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT;

// What both dialogs hold: the text, fonts at the window's DPI, and the
// layout run at the start and again, window size included, when the DPI
// changes.
class TQuestion {
 public:
  virtual ~TQuestion() = default;
  static INT_PTR CALLBACK Proc(HWND W, UINT M, WPARAM Wp, LPARAM Lp) {
    auto* self = reinterpret_cast<TQuestion*>(::GetWindowLongPtrW(W, DWLP_USER));
    if (M == WM_INITDIALOG) {
      self = reinterpret_cast<TQuestion*>(Lp);
      ::SetWindowLongPtrW(W, DWLP_USER, Lp);
      self->hwnd_ = W;
      RegisterControlClasses();
      self->fonts_.Make(ScaleOf(W).Dpi);
      self->Create();
      self->Layout(nullptr);
      ::SetWindowPos(W, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
      ::SetFocus(self->First());
      return FALSE;
    }
    if (self == nullptr) return FALSE;
    switch (M) {
      case WM_DPICHANGED: {
        self->fonts_.Make(ScaleOf(W).Dpi);
        for (HWND c = ::GetWindow(W, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT))
          ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(self->fonts_.Message()), FALSE);
        self->Layout(reinterpret_cast<const RECT*>(Lp));
        return TRUE;
      }
      case WM_CTLCOLORSTATIC:
        // A text too long for a label reads as a page, on the window colour.
        if (IsTextBox(reinterpret_cast<HWND>(Lp))) {
          HDC dc = reinterpret_cast<HDC>(Wp);
          ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
          ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
          return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
        }
        return FALSE;
      case WM_COMMAND: {
        const int id = LOWORD(Wp);
        if (HIWORD(Wp) == BN_CLICKED || HIWORD(Wp) == 0) {
          if (id == IDCANCEL || id == self->Accept()) {
            if (id != IDCANCEL) self->Accepted();
            ::EndDialog(W, id);
            return TRUE;
          }
        }
        return FALSE;
      }
      default: return FALSE;
    }
  }

 protected:
  virtual void Create() = 0;
  // Around: the rectangle the system suggests after a DPI change; null
  // when the dialog opens, centred.
  virtual void Layout(const RECT* Around) = 0;
  virtual HWND First() = 0;
  virtual int Accept() const = 0;
  virtual void Accepted() {}
  HWND Item(int Id) const { return ::GetDlgItem(hwnd_, Id); }

  // The text to the right of the icon, wrapped at Width (pixels), in a box
  // that scrolls when the rest of the dialog (Fixed high) and the text
  // would not fit the screen; returns its height.
  int PlaceText(const TScale& S, int Width, int Fixed, const RECT* Around) {
    const int line = TextExtent(hwnd_, fonts_.Message(), L"Ag").cy;
    const int room = TextRoom(hwnd_, Around, S(5) + Fixed, 3 * line + S(8));
    Place(Item(idImage), S(7), S(5), S(32), S(32));
    return PlaceBoundedText(hwnd_, idLabel1, text_, fonts_.Message(), S(45), S(5), Width, room);
  }
  // How the layout places the window: centred at the start, around the
  // suggested rectangle after a DPI change.
  static TPlacement PlacementFor(const RECT* Around) { return Around != nullptr ? plAround : plCentred; }

  explicit TQuestion(std::wstring Text) : text_(std::move(Text)) {}
  HWND hwnd_ = nullptr;
  TFonts fonts_;
  std::wstring text_;
};

class TUpgradeQuestion : public TQuestion {
 public:
  explicit TUpgradeQuestion(std::wstring Text) : TQuestion(std::move(Text)) {}

 protected:
  void Create() override {
    HFONT f = fonts_.Message();
    SetText(hwnd_, WinText(GetLangText(ltWizardCaption)));
    SetBuiltInPicture(Child(hwnd_, kPictureClass, L"", 0, idImage, nullptr), bpDialogIcon, false);
    Child(hwnd_, L"BUTTON", WinText(GetLangText(ltYes)), BS_DEFPUSHBUTTON | WS_TABSTOP, idYesBtn, f);
    Child(hwnd_, L"BUTTON", WinText(GetLangText(ltLater)), BS_PUSHBUTTON | WS_TABSTOP, idLaterBtn, f);
    ::SendMessageW(hwnd_, DM_SETDEFID, idYesBtn, 0);
  }
  void Layout(const RECT* Around) override {
    const TScale s = ScaleOf(hwnd_);
    // 318 wide, or the work area's width on a narrow screen.
    constexpr int kClientW = 318, kPanelH = 45;
    const RECT work = WorkAreaOf(hwnd_, Around);
    const int clientW = std::min<int>(s(kClientW), work.right - work.left - FrameSize(hwnd_).cx);
    // As wide as the outer width (a 3-pixel frame each side) less its left
    // position less 11; the dialog grows with the text up to what the
    // screen holds, buttons at the bottom.
    const int textH = PlaceText(s, clientW + s(6) - s(45) - s(11), s(kPanelH), Around);
    const int clientH = std::max(s(5) + textH, s(5 + 32)) + s(kPanelH);
    const int yes = ButtonWidth(Item(idYesBtn), s, 75), later = ButtonWidth(Item(idLaterBtn), s, 75);
    // Centred as a pair, 14 apart.
    const int left = (clientW - (yes + s(14) + later)) / 2;
    const int top = clientH - s(kPanelH) + s(13);
    Place(Item(idYesBtn), left, top, yes, s(23));
    Place(Item(idLaterBtn), left + yes + s(14), top, later, s(23));
    SizeClient(hwnd_, clientW, clientH, PlacementFor(Around), Around);
  }
  HWND First() override { return Item(idYesBtn); }
  int Accept() const override { return idYesBtn; }
};

class TPasswordQuestion : public TQuestion {
 public:
  TPasswordQuestion(std::wstring Text, std::string Username)
      : TQuestion(std::move(Text)), user_(std::move(Username)) {}
  std::string Username, Password;

 protected:
  void Create() override {
    HFONT f = fonts_.Message();
    SetText(hwnd_, WinText(GetLangText(ltPasswordCaption)));
    SetBuiltInPicture(Child(hwnd_, kPictureClass, L"", 0, idImage, nullptr), bpDialogIcon, false);
    const std::wstring ok = WinText(GetLangText(ltOK)), cancel = WinText(GetLangText(ltCancel));
    // Each label gives its box an access key that the buttons do not use.
    std::wstring taken = AccessKeysOf(ok) + AccessKeysOf(cancel);
    const std::wstring user = WithAccessKey(WinText(GetLangText(ltUserName)), taken);
    const std::wstring pass = WithAccessKey(WinText(GetLangText(ltPassword)), taken);
    Child(hwnd_, L"STATIC", user, 0, idUsernameLab, f);
    Child(hwnd_, L"EDIT", win32::Wide(user_), ES_AUTOHSCROLL | WS_TABSTOP, idUsernameEdit, f, WS_EX_CLIENTEDGE);
    Child(hwnd_, L"STATIC", pass, 0, idPasswordLab, f);
    HWND p = Child(hwnd_, L"EDIT", L"", ES_AUTOHSCROLL | ES_PASSWORD | WS_TABSTOP, idPasswordEdit, f,
                   WS_EX_CLIENTEDGE);
    ::SendMessageW(p, EM_SETPASSWORDCHAR, L'*', 0);
    Child(hwnd_, L"BUTTON", ok, BS_DEFPUSHBUTTON | WS_TABSTOP, idOKBtn, f);
    Child(hwnd_, L"BUTTON", cancel, BS_PUSHBUTTON | WS_TABSTOP, idCancelBtn, f);
    ::SendMessageW(hwnd_, DM_SETDEFID, idOKBtn, 0);
  }
  void Layout(const RECT* Around) override {
    const TScale s = ScaleOf(hwnd_);
    constexpr int kClientW = 297, kPanelH = 98;
    const int textH = PlaceText(s, s(kClientW - 45 - 18), s(kPanelH), Around);
    const int panel = std::max(s(5) + textH, s(5 + 32));
    const int clientH = panel + s(kPanelH);
    // The boxes start where the longer label ends, at 122 at the least.
    const auto labelSize = [&](int Id) {
      return TextExtent(hwnd_, fonts_.Message(), WinText(TextOf(Item(Id))), 0, true);
    };
    const SIZE u = labelSize(idUsernameLab), p = labelSize(idPasswordLab);
    const int editLeft = std::max<int>(s(122), s(45) + std::max(u.cx, p.cx) + s(8));
    const int editW = s(279) - editLeft;
    const int editH = std::max<int>(s(21), u.cy + s(8));
    const int row1 = panel + s(10), row2 = row1 + std::max(s(24), editH + s(3));
    Place(Item(idUsernameEdit), editLeft, row1, editW, editH);
    Place(Item(idPasswordEdit), editLeft, row2, editW, editH);
    Place(Item(idUsernameLab), s(45), row1 + (editH - u.cy) / 2, u.cx, u.cy);
    Place(Item(idPasswordLab), s(45), row2 + (editH - p.cy) / 2, p.cx, p.cy);
    // OK and Cancel right-aligned at 279, 15 apart.
    const int cancel = ButtonWidth(Item(idCancelBtn), s, 75), ok = ButtonWidth(Item(idOKBtn), s, 75);
    const int top = row2 + editH + s(13);
    Place(Item(idCancelBtn), s(279) - cancel, top, cancel, s(23));
    Place(Item(idOKBtn), s(279) - cancel - s(15) - ok, top, ok, s(23));
    SizeClient(hwnd_, s(kClientW), std::max(clientH, top + s(23) + s(7)), PlacementFor(Around), Around);
  }
  HWND First() override { return Item(idUsernameEdit); }
  int Accept() const override { return idOKBtn; }
  void Accepted() override {
    // What OK copies into the component.
    Username = TextOf(Item(idUsernameEdit));
    Password = TextOf(Item(idPasswordEdit));
  }

 private:
  std::string user_;
};

}  // namespace

bool AskUpgradeDialog(const std::string& Text) {
  TUpgradeQuestion q(WinText(Text));
  return RunDialog(ActiveOwner(), TQuestion::Proc, reinterpret_cast<LPARAM>(static_cast<TQuestion*>(&q)), kStyle,
                   kExStyle, kUpgradeMessageClass) == idYesBtn;
}

bool AskPasswordDialog(const std::string& Text, std::string& Username, std::string& Password) {
  TPasswordQuestion q(WinText(Text), Username);
  if (RunDialog(ActiveOwner(), TQuestion::Proc, reinterpret_cast<LPARAM>(static_cast<TQuestion*>(&q)), kStyle,
                kExStyle, kPasswordClass) != idOKBtn)
    return false;
  Username = std::move(q.Username);
  Password = std::move(q.Password);
  return true;
}

}  // namespace kelvora::win32ui
