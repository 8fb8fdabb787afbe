// The terminal side of the console UI on a real Windows console: one the
// test makes for itself (AllocConsole; under Wine a headless console host),
// opened the way the console UI opens it when the host gives no streams.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "kelvora/ConsoleUpgradeUI.h"
#include "ui/Terminal.h"

namespace {

using namespace kelvora::detail;

// The characters at the start of the console's line Row.
std::wstring ScreenText(HANDLE Console, SHORT Row, DWORD Count) {
  std::wstring text(Count, L'\0');
  DWORD got = 0;
  if (!ReadConsoleOutputCharacterW(Console, text.data(), Count, COORD{0, Row}, &got)) return {};
  text.resize(got);
  return text;
}

std::wstring Wide(const std::string& Text) {
  std::wstring out(Text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(),
                                    static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

TEST(Win32Console, ConsoleIsATerminalWithAWidthAndTakesCharacters) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  std::FILE *in = nullptr, *out = nullptr;
  OpenTerminal(in, out);
  ASSERT_NE(out, nullptr);
  EXPECT_NE(in, nullptr);
  EXPECT_TRUE(IsTerminal(out));
  EXPECT_TRUE(IsTerminal(in));
  const int width = TerminalWidth(out);
  EXPECT_GT(width, 0);
  PrepareTerminal(out);

  // A name beyond ASCII comes out as its characters, not as UTF-8 bytes.
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
  const SHORT row = info.dwCursorPosition.Y;
  WriteText(out, "kelvora c\xC3\xB6nsole \xC3\xBC.exe\r\n");
  EXPECT_EQ(ScreenText(console, row, 21), L"kelvora c\u00F6nsole \u00FC.exe");
  {
    TEchoOff echo(in);
    EXPECT_TRUE(echo.Active());
  }
  CloseHandle(console);
  CloseTerminal(in, out);
  FreeConsole();
}

// The console UI with its default streams: the file's name as characters,
// the progress line with its bar drawn to the console's width.
TEST(Win32Console, ConsoleUIDrawsItsProgressBarToTheWidth) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole()) << GetLastError();
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  {
    kelvora::TkvConsoleUpgradeUI ui(kelvora::TkvConsoleUpgradeUI::cmAssumeYes);
    ui.ShowWizard({}, {});
    ui.WizardFile("http://127.0.0.1/kelvora c\xC3\xB6nsole \xC3\xBC.exe", "Downloading");
    ui.WizardFileSize("1.2 MB");
    ui.WizardProgress(50, 25, "100 KB/s", "10 s");
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    const int width = info.srWindow.Right - info.srWindow.Left + 1;
    ASSERT_GT(width, 20);
    const std::string bar = kelvora::TkvConsoleUpgradeUI::ProgressLine(50, 25, "1.2 MB", "100 KB/s", "10 s", width - 1);
    EXPECT_NE(bar, kelvora::TkvConsoleUpgradeUI::ProgressLine(50, 25, "1.2 MB", "100 KB/s", "10 s", 0));
    const SHORT row = info.dwCursorPosition.Y;
    const std::wstring shown = ScreenText(console, row, static_cast<DWORD>(width));
    EXPECT_EQ(shown.substr(0, Wide(bar).size()), Wide(bar));
    EXPECT_EQ(ScreenText(console, row + 1, 1), L" ");  // nothing wrapped onto the next line
    EXPECT_NE(ScreenText(console, row - 1, static_cast<DWORD>(width)).find(L"kelvora c\u00F6nsole \u00FC.exe"),
              std::wstring::npos);
    ui.DestroyWizard();
  }
  CloseHandle(console);
  FreeConsole();
}

}  // namespace
