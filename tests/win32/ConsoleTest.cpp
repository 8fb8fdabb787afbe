// The terminal side of the console UI on a real Windows console: one the
// test makes for itself (AllocConsole; under Wine a headless console host),
// opened the way the console UI opens it when the host gives no streams.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
