// The native windows under Wine, used as a person would: a second thread
// finds them by class and caption, reads their texts, types into them and
// presses their buttons and keys with the messages a click or a key sends,
// while the UI thread is blocked in the dialog or serves the wizard. Every
// page and dialog is saved as a PNG into KV_SHOT_DIR, named by language and
// DPI (the prefix's LogPixels), in English and in the language of the table
// with the longest texts (French).
#include <gtest/gtest.h>

#include "kelvora/Application.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/win32/kvWin32UpgradeUI.h"

#include <windows.h>
#undef MessageBox
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Screenshot.h"
#include "framework/win32/Wide.h"
#include "win32ui/DpiCalls.h"

using namespace kelvora;
using namespace kelvora::win32ui;

namespace {

// A text as the windows show it: every line break ("\n", "\r", "\r\n") as
// CR LF.
std::wstring W(const std::string& S) {
  std::wstring out;
  const std::wstring in = win32::Wide(S);
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != L'\r' && in[i] != L'\n') {
      out += in[i];
      continue;
    }
    out += L"\r\n";
    if (in[i] == L'\r' && i + 1 < in.size() && in[i + 1] == L'\n') ++i;
  }
  return out;
}

// A message sent to a window of the other thread, never waiting for ever.
LRESULT Ask(HWND H, UINT M, WPARAM Wp = 0, LPARAM Lp = 0) {
  DWORD_PTR r = 0;
  ::SendMessageTimeoutW(H, M, Wp, Lp, SMTO_NORMAL, 5000, &r);
  return static_cast<LRESULT>(r);
}

std::wstring TextOf(HWND H) {
  wchar_t buf[2048] = {};
  Ask(H, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buf));
  return buf;
}

// Lines reach the log as they come, also when Wine ends the program.
const int gUnbuffered = std::setvbuf(stdout, nullptr, _IONBF, 0);

// The language and DPI a picture was taken in.
std::string ShotName(const std::string& What) {
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  const uint16_t base = LanguageBaseId();
  const char* lang = base == LanguageBlockId(wlFrench) ? "fr" : base == LanguageBlockId(wlGerman) ? "de" : "en";
  return std::string(lang) + "-" + std::to_string(dpi * 100 / 96) + "-" + What;
}

// The person at the screen: runs on its own thread; problems are collected
// and checked by the test on the UI thread.
class TPerson {
 public:
  explicit TPerson(std::function<void(TPerson&)> Script) : thread_([this, Script] {
    Script(*this);
    done_ = true;
  }) {}
  ~TPerson() {
    if (thread_.joinable()) thread_.join();
  }
  bool Done() const { return done_; }
  void Join() {
    thread_.join();
    std::lock_guard lk(mutex_);
    for (const auto& e : errors_) ADD_FAILURE() << e;
  }
  void Check(bool Ok, const std::string& What) {
    if (Ok) return;
    std::lock_guard lk(mutex_);
    errors_.push_back(What);
  }

  // The visible window of Class (and Caption), within 15 s, given Settle
  // ms to be painted.
  HWND WaitFor(const wchar_t* Class, const std::wstring& Caption = L"", int Settle = 400) {
    for (int i = 0; i < 750; ++i) {
      HWND h = ::FindWindowW(Class, Caption.empty() ? nullptr : Caption.c_str());
      if (h != nullptr && ::IsWindowVisible(h)) {
        ::Sleep(static_cast<DWORD>(Settle));
        return h;
      }
      ::Sleep(20);
    }
    Check(false, "no window " + win32::Utf8(Class) + " " + win32::Utf8(Caption));
    return nullptr;
  }
  bool WaitGone(HWND H) {
    for (int i = 0; i < 750 && ::IsWindow(H) && ::IsWindowVisible(H); ++i) ::Sleep(20);
    return !::IsWindow(H) || !::IsWindowVisible(H);
  }
  void Click(HWND Dialog, int Id) {
    HWND b = ::GetDlgItem(Dialog, Id);
    Check(b != nullptr && ::IsWindowEnabled(b), "button " + std::to_string(Id) + " cannot be pressed");
    ::PostMessageW(b, BM_CLICK, 0, 0);
  }
  static HWND FocusOf(HWND Dialog) {
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(Dialog, nullptr), &gti);
    return gti.hwndFocus;
  }
  // A key pressed where the focus is, as the keyboard would send it.
  void Key(HWND Dialog, WPARAM Vk) {
    HWND focus = FocusOf(Dialog);
    HWND target = focus != nullptr ? focus : Dialog;
    ::PostMessageW(target, WM_KEYDOWN, Vk, 1);
    ::PostMessageW(target, WM_KEYUP, Vk, 0xC0000001);
  }
  std::wstring Text(HWND Dialog, int Id) { return TextOf(::GetDlgItem(Dialog, Id)); }
  void Shot(HWND H, const std::string& What) {
    const char* dir = std::getenv("KV_SHOT_DIR");
    if (dir == nullptr || H == nullptr) return;
    const std::string path = std::string(dir) + "/" + ShotName(What) + ".png";
    Check(kvtest::SaveWindowPng(H, win32::Wide(path)), "no picture " + path);
  }
  // Every visible control lies inside the window's client area.
  void CheckInside(HWND H, const std::string& What) {
    RECT c;
    ::GetClientRect(H, &c);
    ::MapWindowPoints(H, nullptr, reinterpret_cast<POINT*>(&c), 2);
    for (HWND k = ::GetWindow(H, GW_CHILD); k != nullptr; k = ::GetWindow(k, GW_HWNDNEXT)) {
      RECT r;
      if (!::IsWindowVisible(k) || !::GetWindowRect(k, &r)) continue;
      Check(r.left >= c.left && r.top >= c.top && r.right <= c.right && r.bottom <= c.bottom,
            What + ": control " + std::to_string(::GetDlgCtrlID(k)) + " outside the window");
    }
  }
  // The window lies inside the work area of its monitor, and so do the
  // buttons, each visible inside the client area.
  // The whole text of a one-line edit shows: it fits between the margins.
  void CheckWholeText(HWND Edit, const std::string& What) {
    const std::wstring text = TextOf(Edit);
    HDC dc = ::GetDC(Edit);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(Ask(Edit, WM_GETFONT)));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(Edit, dc);
    RECT c{};
    ::GetClientRect(Edit, &c);
    const auto margins = static_cast<DWORD>(Ask(Edit, EM_GETMARGINS));
    const int needed = LOWORD(margins) + size.cx + HIWORD(margins);
    Check(needed <= c.right, What + ": needs " + std::to_string(needed) + " px, has " + std::to_string(c.right));
  }
  void CheckOnScreen(HWND H, std::initializer_list<int> Buttons, const std::string& What) {
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(::MonitorFromWindow(H, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT& a = mi.rcWork;
    const auto inside = [](const RECT& r, const RECT& in) {
      return r.left >= in.left && r.top >= in.top && r.right <= in.right && r.bottom <= in.bottom;
    };
    RECT w{};
    ::GetWindowRect(H, &w);
    Check(inside(w, a), What + ": window " + Rect(w) + " outside the work area " + Rect(a));
    RECT c;
    ::GetClientRect(H, &c);
    ::MapWindowPoints(H, nullptr, reinterpret_cast<POINT*>(&c), 2);
    for (int id : Buttons) {
      HWND b = ::GetDlgItem(H, id);
      RECT r{};
      Check(b != nullptr && ::IsWindowVisible(b) && ::GetWindowRect(b, &r) && inside(r, c) && inside(r, a),
            What + ": button " + std::to_string(id) + " not on the screen " + Rect(r));
    }
  }
  static std::string Rect(const RECT& R) {
    return "(" + std::to_string(R.left) + "," + std::to_string(R.top) + ")-(" + std::to_string(R.right) + "," +
           std::to_string(R.bottom) + ")";
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> errors_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

bool SameSize(const RECT& A, const RECT& B) {
  return A.right - A.left == B.right - B.left && A.bottom - A.top == B.bottom - B.top;
}

// Serves the UI thread's messages until Done holds (at most 30 s).
bool Pump(const std::function<bool()>& Done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG m;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&m);
      ::DispatchMessageW(&m);
    }
  }
  return true;
}

TkvWin32UpgradeUI* gStopUI = nullptr;
std::atomic<int>* gStage = nullptr;

class Win32UI : public ::testing::TestWithParam<TkvKelvoraLanguage> {
 protected:
  void SetUp() override {
    saved_ = LanguageBaseId();
    SetLanguageBaseId(LanguageBlockId(GetParam()));
  }
  void TearDown() override { SetLanguageBaseId(saved_); }
  TkvWin32UpgradeUI ui;
  uint16_t saved_ = 0;
};

}  // namespace

TEST_P(Win32UI, QuestionsAndMessageBoxes) {
  const std::string question = FormatLangText(ltAskUpgrade, {"Test App", "\nFaster start-up.\n"});
  {
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(kUpgradeMessageClass);
      P.Check(TextOf(d) == W(GetLangText(ltWizardCaption)), "ask-upgrade caption");
      P.Check(P.Text(d, idLabel1) == W(question), "ask-upgrade text");
      P.Check(P.Text(d, idYesBtn) == W(GetLangText(ltYes)), "Yes button");
      P.Check((::GetWindowLongPtrW(d, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "ask-upgrade topmost");
      P.CheckInside(d, "ask-upgrade");
      P.Shot(d, "ask-upgrade");
      P.Key(d, VK_RETURN);  // the default button: Yes
    });
    EXPECT_TRUE(ui.AskUpgrade(question));
    p.Join();
  }
  {
    TPerson p([&](TPerson& P) { P.Key(P.WaitFor(kUpgradeMessageClass), VK_ESCAPE); });
    EXPECT_FALSE(ui.AskUpgrade(question)) << "Esc is Later";
    p.Join();
  }
  const std::string request = FormatLangText(ltPasswordRequest, {"setup.exe"});
  {
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(kPasswordClass);
      P.Check(TextOf(d) == W(GetLangText(ltPasswordCaption)), "password caption");
      P.Check(P.Text(d, idUsernameEdit) == L"alice", "the previous user name");
      P.Check(P.Text(d, idPasswordEdit).empty(), "an empty password");
      P.Check(Ask(::GetDlgItem(d, idPasswordEdit), EM_GETPASSWORDCHAR) == L'*', "masked");
      P.Check(::GetDlgItem(d, idUsernameEdit) == ::GetNextDlgTabItem(d, ::GetDlgItem(d, idCancelBtn), FALSE),
              "tab order: user name after Cancel");
      Ask(::GetDlgItem(d, idPasswordEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"s3cret \u00fc"));
      P.CheckInside(d, "password");
      P.Shot(d, "password");
      P.Click(d, idOKBtn);
    });
    std::string user = "alice", pass;
    EXPECT_TRUE(ui.AskPassword(request, user, pass));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(pass, "s3cret \xc3\xbc");
    p.Join();
  }
  {
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(kPasswordClass);
      Ask(::GetDlgItem(d, idPasswordEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"wrong"));
      P.Key(d, VK_ESCAPE);
    });
    std::string user = "bob", pass = "kept";
    EXPECT_FALSE(ui.AskPassword(request, user, pass));
    EXPECT_EQ(user + "/" + pass, "bob/kept") << "Cancel changes neither";
    p.Join();
  }
  {
    const std::string caption = GetLangText(ltWizardCaption);
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(L"#32770", W(caption));
      P.Check(P.Text(d, IDOK) == W(GetLangText(ltOK)), "OK in the component's language");
      P.Shot(d, "message-connection-lost");
      P.Click(d, IDOK);
    });
    EXPECT_EQ(ui.MessageBox(GetLangText(ltConnLost), caption, mbOK | mbIconError), idOK);
    p.Join();
  }
  {
    const std::string caption = GetLangText(ltError) + " #404";
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(L"#32770", W(caption));
      P.Check(P.Text(d, IDYES) == W(GetLangText(ltYes)) && P.Text(d, IDNO) == W(GetLangText(ltNo)),
              "Yes and No in the component's language");
      P.Shot(d, "message-lost-file");
      P.Click(d, IDNO);
    });
    EXPECT_EQ(ui.MessageBox(FormatLangText(ltLostFile, {"setup.exe"}), caption,
                            mbYesNo | mbIconExclamation | mbSystemModal),
              idNo);
    p.Join();
  }
}

// A release note of 200 lines, in every language (ui-tests.sh runs this at
// 96, 144 and 192 dpi): the question stays on the screen with its buttons,
// the note scrolls in a read-only box (Enter there is still Yes), and a DPI
// change lays it out again, size included. Without the calls of newer
// Windows (as on Windows 7) it has the same size. A message box as long, and
// a password request for an endless file name, stay on the screen too.
TEST(Win32Fit, LongNoteQuestionAndMessageFitTheScreen) {
  const uint16_t saved = LanguageBaseId();
  std::string note;
  for (int i = 1; i <= 200; ++i) note += "Line " + std::to_string(i) + ": fixed a problem that users reported.\n";
  TkvWin32UpgradeUI ui;
  RECT english{};
  for (int l = wlEnglish; l <= wlEnglish + kLanguageCount; ++l) {
    // The last round: English again, as on the oldest supported Windows.
    const bool oldest = l == wlEnglish + kLanguageCount;
    const auto lang = static_cast<TkvKelvoraLanguage>(oldest ? wlEnglish : l);
    PretendOldestWindows(oldest);
    SetLanguageBaseId(LanguageBlockId(lang));
    const std::string question = FormatLangText(ltAskUpgrade, {"Test App", "\n" + note});
    const std::string name = "language " + std::to_string(lang) + (oldest ? " without newer calls" : "");
    const bool shot = !oldest && (lang == wlEnglish || lang == wlGerman);
    TPerson p([&](TPerson& P) {
      HWND d = P.WaitFor(kUpgradeMessageClass, L"", shot ? 400 : 20);
      HWND box = ::GetDlgItem(d, idLabel1);
      P.Check(Ask(box, WM_GETTEXTLENGTH) == static_cast<LRESULT>(W(question).size()), name + ": the whole text");
      constexpr LONG_PTR kBox = ES_MULTILINE | ES_READONLY | WS_VSCROLL;
      P.Check((::GetWindowLongPtrW(box, GWL_STYLE) & kBox) == kBox, name + ": a read-only box that scrolls");
      P.Check(Ask(box, EM_GETLINECOUNT) > 200, name + ": every line in the box");
      P.CheckOnScreen(d, {idYesBtn, idLaterBtn}, name);
      P.CheckInside(d, name);
      if (shot) P.Shot(d, "ask-upgrade-long-note");
      RECT before{}, after{};
      ::GetWindowRect(d, &before);
      if (oldest) P.Check(SameSize(before, english), name + ": " + TPerson::Rect(before));
      if (lang != wlEnglish || oldest) {
        P.Key(d, VK_ESCAPE);
        return;
      }
      english = before;
      RECT suggested{before.left + 40, before.top + 40, before.left + 140, before.top + 90};
      const UINT dpi = ::GetDpiForWindow(d);
      Ask(d, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
      ::GetWindowRect(d, &after);
      P.Check(SameSize(after, before),
              "a DPI change sizes the question for its DPI, not as suggested: " + TPerson::Rect(after));
      P.CheckOnScreen(d, {idYesBtn, idLaterBtn}, "after a DPI change");
      ::PostMessageW(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
      for (int i = 0; i < 250 && TPerson::FocusOf(d) != box; ++i) ::Sleep(20);
      P.Check(TPerson::FocusOf(d) == box, "the note's box takes the focus");
      P.Key(d, VK_RETURN);
    });
    EXPECT_EQ(ui.AskUpgrade(question), lang == wlEnglish && !oldest) << name << ": Enter is Yes, Esc is Later";
    p.Join();
  }
  PretendOldestWindows(false);
  SetLanguageBaseId(LanguageBlockId(wlGerman));
  const std::string caption = GetLangText(ltError) + " #404", text = FormatLangText(ltLostFile, {note});
  TPerson p([&](TPerson& P) {
    HWND d = P.WaitFor(L"#32770", W(caption));
    P.CheckOnScreen(d, {IDYES, IDNO}, "message box");
    P.Check(Ask(::GetDlgItem(d, 0xFFFF), WM_GETTEXTLENGTH) == static_cast<LRESULT>(W(text).size()),
            "the whole text in the message box");
    P.Shot(d, "message-long");
    P.Click(d, IDNO);
  });
  EXPECT_EQ(ui.MessageBox(text, caption, mbYesNo | mbIconExclamation | mbSystemModal), idNo);
  p.Join();
  // A password asked for a file whose name is one endless word.
  TPerson p2([&](TPerson& P) {
    HWND d = P.WaitFor(kPasswordClass);
    P.CheckOnScreen(d, {idOKBtn, idCancelBtn}, "password");
    P.CheckInside(d, "password");
    P.Shot(d, "password-long-name");
    P.Key(d, VK_ESCAPE);
  });
  std::string user, pass;
  EXPECT_FALSE(ui.AskPassword(FormatLangText(ltPasswordRequest, {std::string(3000, 'a') + ".exe"}), user, pass));
  p2.Join();
  SetLanguageBaseId(saved);
}

TEST_P(Win32UI, WizardPagesCancelAndFinish) {
  std::vector<std::string> hooks;
  TkvWizardOptions o;
  o.AppTitle = "Test App";
  ui.ShowWizard(o, {[&] { hooks.push_back("Closed"); }, [&] { hooks.push_back("Abort"); }});
  ASSERT_TRUE(ui.HasWizard());
  HWND wizard = static_cast<HWND>(ui.WizardWindow());
  EXPECT_EQ(TextOf(::GetDlgItem(wizard, idLEstimatedTime)), W(GetLangText(ltPreparing)));
  ui.WizardFile("http://127.0.0.1:8080/releases/kelvora-demo.exe", FormatLangText(ltDownloadingCount, {2, 5}));
  ui.WizardFileSize(FormatLangText(ltFileSize, {1536 / 1024.0}));
  ui.WizardProgress(42, 68, FormatLangText(ltTransferRate, {1234.5}), FormatLangText(ltTimeLeft, {1, 2, 5}));

  std::atomic<int> stage{0};
  TPerson p([&](TPerson& P) {
    HWND w = P.WaitFor(kWizardClass);
    P.Check(w == wizard, "one wizard window");
    P.Check(TextOf(w) == W(GetLangText(ltWizardCaption)), "wizard caption");
    P.Check((::GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "stays on top");
    P.Check(P.Text(w, idWizardTitle) == W(GetLangText(ltDownloadingTitle)), "title");
    P.Check(P.Text(w, idLTransferRate) == W(FormatLangText(ltTransferRate, {1234.5})), "rate");
    P.Check(Ask(::GetDlgItem(w, idProgressCurrentFile), PBM_GETPOS) == 42, "file bar");
    P.Check(Ask(::GetDlgItem(w, idProgressAllFiles), PBM_GETPOS) == 68, "all bar");
    P.Check(!::IsWindowEnabled(::GetDlgItem(w, idFinishBtn)), "Next disabled while downloading");
    P.CheckInside(w, "wizard");
    P.CheckWholeText(::GetDlgItem(w, idFileURL), "the whole address");
    P.Shot(w, "wizard-download");
    // A DPI change lays the window out again, its size included.
    RECT before{}, after{};
    ::GetWindowRect(w, &before);
    ::SetWindowPos(w, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT suggested{before.left, before.top, before.left + 200, before.top + 150};
    const UINT dpi = ::GetDpiForWindow(w);
    Ask(w, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    ::GetWindowRect(w, &after);
    P.Check(SameSize(after, before), "a DPI change sizes the wizard for its DPI: " + TPerson::Rect(after));
    P.CheckOnScreen(w, {idFinishBtn, idCancelBtn}, "wizard after a DPI change");
    P.CheckInside(w, "wizard after a DPI change");
    // Cancel asks first; No is the default, so Enter leaves the download
    // running.
    P.Click(w, idCancelBtn);
    HWND q = P.WaitFor(L"#32770", L"Test App");
    P.Shot(q, "wizard-abort-question");
    P.Check((::GetWindowLongPtrW(::GetDlgItem(q, IDNO), GWL_STYLE) & BS_DEFPUSHBUTTON) != 0, "No is the default");
    P.Key(q, VK_RETURN);
    P.Check(P.WaitGone(q), "the question closes");
    ::Sleep(200);
    P.Check(::IsWindowVisible(w) != 0, "No keeps the wizard");
    stage = 1;
    while (stage != 2) ::Sleep(10);
    ::Sleep(400);
    P.Check(!::IsWindowVisible(::GetDlgItem(w, idLCurrentFile)), "completion page hides the boxes");
    P.Check(!::IsWindowEnabled(::GetDlgItem(w, idCancelBtn)), "Cancel disabled on completion");
    P.CheckInside(w, "wizard completed");
    P.Shot(w, "wizard-completed");
    P.Key(w, VK_RETURN);  // OK, focused: closes without a question
  });
  ASSERT_TRUE(Pump([&] { return stage == 1; }));
  // The figures keep moving while the window is served.
  for (int i = 0; i <= 100; i += 5) {
    ui.WizardProgress(i, i / 2, FormatLangText(ltTransferRate, {i * 10.0}), FormatLangText(ltTimeLeft, {0, 0, i}));
    Pump([] { return true; });
  }
  EXPECT_TRUE(hooks.empty());
  ui.ShowWizardCompleted();
  stage = 2;
  ASSERT_TRUE(Pump([&] { return p.Done() && !ui.HasWizard(); }));
  p.Join();
  EXPECT_EQ(hooks, std::vector<std::string>{"Closed"});
}

TEST_P(Win32UI, WizardAbortAndDestroyDuringTheQuestion) {
  std::vector<std::string> hooks;
  TkvWizardOptions o;
  o.AppTitle = "Test App";
  o.HideFileLocation = true;
  ui.ShowWizard(o, {[&] { hooks.push_back("Closed"); }, [&] { hooks.push_back("Abort"); }});
  ui.WizardFile("http://127.0.0.1/a", FormatLangText(ltDownloadingCount, {1, 1}));
  std::atomic<int> stage{0};
  TPerson p([&](TPerson& P) {
    HWND w = P.WaitFor(kWizardClass);
    P.Check(!::IsWindowVisible(::GetDlgItem(w, idFileURL)), "no URL line");
    P.Shot(w, "wizard-hidden-location");
    P.Key(w, VK_ESCAPE);  // Esc is Cancel: the question, Yes aborts
    HWND q = P.WaitFor(L"#32770", L"Test App");
    P.Click(q, IDYES);
    P.Check(P.WaitGone(w), "Yes closes the wizard");
    stage = 1;
  });
  ASSERT_TRUE(Pump([&] { return stage == 1 && !ui.HasWizard(); }));
  p.Join();
  EXPECT_EQ(hooks, (std::vector<std::string>{"Closed", "Abort"}));

  // The engine stops the run while the question is open: the window goes,
  // the question's answer changes nothing, no hook runs.
  hooks.clear();
  ui.ShowWizard(o, {[&] { hooks.push_back("Closed"); }, [&] { hooks.push_back("Abort"); }});
  stage = 0;
  TPerson p2([&](TPerson& P) {
    HWND w = P.WaitFor(kWizardClass);
    P.Click(w, idCancelBtn);
    HWND q = P.WaitFor(L"#32770", L"Test App");
    stage = 1;
    while (stage != 2) ::Sleep(10);
    if (::IsWindow(q)) P.Click(q, IDYES);
  });
  // The engine's stop arrives inside the question's own loop, as a
  // hand-off from a transfer would.
  gStopUI = &ui;
  gStage = &stage;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    if (gStage->load() != 1 || gStopUI == nullptr) return;
    gStopUI->DestroyWizard();
    gStopUI = nullptr;
    *gStage = 2;
  });
  ASSERT_TRUE(Pump([&] { return p2.Done(); }));
  ::KillTimer(nullptr, timer);
  EXPECT_FALSE(ui.HasWizard());
  Pump([] { return true; });
  p2.Join();
  EXPECT_TRUE(hooks.empty());
}

INSTANTIATE_TEST_SUITE_P(Languages, Win32UI, ::testing::Values(wlEnglish, wlFrench),
                         [](const auto& I) { return I.param == wlEnglish ? "English" : "French"; });

// Whole runs of the engine through the native windows against a real server
// (ui_run_server.py, started by ui-tests.sh): a cancel in the middle of a
// download, a refused password, a lost connection. Each ends with nothing
// left in the targets' folder (the script checks it).
class Win32UIRun : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = LanguageBaseId();
    SetLanguageBaseId(LanguageBlockId(wlEnglish));
    SetUpgradeUI(&ui);
    const char* base = std::getenv("KV_INFO_BASE");
    if (base == nullptr) GTEST_SKIP() << "no servers (run by ui-tests.sh)";
    base_ = base;
  }
  void TearDown() override {
    SetUpgradeUI(nullptr);
    SetLanguageBaseId(saved_);
  }
  // Checks Info with the engine while Person acts; true once the run ended
  // (aborted, or its connection lost).
  bool Run(const std::string& Info, std::function<void(TPerson&)> Person, std::vector<std::string>& Events) {
    TkvKelvora k(nullptr);
    k.SetInfoFileURL(base_ + Info);
    k.SetVersionControl(byNumber);
    k.SetVersionNumber("1.0");
    bool aborted = false;
    k.OnAborted = [&](TObject*) {
      Events.push_back("Aborted");
      aborted = true;
    };
    k.OnConnLost = [&](TObject*) {
      Events.push_back("ConnLost");
      aborted = true;  // the run ends here too
    };
    k.OnPasswordRequest = [&](TObject*, const std::string&, bool&) { Events.push_back("PasswordRequest"); };
    TPerson p(std::move(Person));
    k.CheckUpdates(false);
    const bool ended = Pump([&] { return aborted && p.Done() && !ui.HasWizard(); });
    p.Join();
    // The stopped transfer's worker removes its part file when it ends (on
    // Windows no open file can be removed before): the program goes on.
    Pump([&] { return !k.Busy(); });
    return ended;
  }
  TkvWin32UpgradeUI ui;
  std::string base_;
  uint16_t saved_ = 0;
};

TEST_F(Win32UIRun, CancelInTheMiddleRefusedPasswordAndLostConnection) {
  std::vector<std::string> events;
  EXPECT_TRUE(Run("slow.txt", [](TPerson& P) {
    P.Click(P.WaitFor(kUpgradeMessageClass), idYesBtn);
    HWND w = P.WaitFor(kWizardClass);
    // Cancelled once the figures move.
    for (int i = 0; i < 500 && Ask(::GetDlgItem(w, idProgressCurrentFile), PBM_GETPOS) < 5; ++i)
      ::Sleep(20);
    P.Check(Ask(::GetDlgItem(w, idProgressCurrentFile), PBM_GETPOS) >= 5, "the bar moves");
    P.Check(!P.Text(w, idLTransferRate).empty() || !P.Text(w, idLFileSize).empty(), "the figures are shown");
    P.Shot(w, "run-wizard-downloading");
    P.Click(w, idCancelBtn);
    P.Click(P.WaitFor(L"#32770", L"win32_ui_tests.exe"), IDYES);
  }, events));
  EXPECT_EQ(events, std::vector<std::string>{"Aborted"});

  events.clear();
  EXPECT_TRUE(Run("protected.txt", [](TPerson& P) {
    P.Click(P.WaitFor(kUpgradeMessageClass), idYesBtn);
    HWND d = P.WaitFor(kPasswordClass);
    Ask(::GetDlgItem(d, idUsernameEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"u"));
    Ask(::GetDlgItem(d, idPasswordEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"wrong"));
    P.Click(d, idOKBtn);
    P.Check(P.WaitGone(d), "OK closes the dialog");
    // Refused: asked again, with the user name kept; Cancel gives up.
    HWND again = P.WaitFor(kPasswordClass);
    P.Check(P.Text(again, idUsernameEdit) == L"u" && P.Text(again, idPasswordEdit).empty(), "asked again");
    P.Click(again, idCancelBtn);
  }, events));
  EXPECT_EQ(events, (std::vector<std::string>{"PasswordRequest", "PasswordRequest", "Aborted"}));

  events.clear();
  EXPECT_TRUE(Run("cut.txt", [](TPerson& P) {
    P.Click(P.WaitFor(kUpgradeMessageClass), idYesBtn);
    HWND box = P.WaitFor(L"#32770", W(GetLangText(ltWizardCaption)));
    P.Check(TextOf(::GetDlgItem(box, 0xFFFF)) == W(GetLangText(ltConnLost)), "the lost connection is told");
    P.Click(box, IDOK);
  }, events));
  EXPECT_EQ(events, std::vector<std::string>{"ConnLost"});
}
