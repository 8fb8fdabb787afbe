// The console on Windows: the console's own handles, its window's width,
// text written as UTF-16 characters (whatever the console's code page),
// echo off through the console mode.
#include "ui/Terminal.h"

#include <io.h>
#include <windows.h>

#include <cstdio>

namespace kelvora::detail {

namespace {

// The console behind Stream, or nullptr when it is a file or a pipe.
HANDLE ConsoleOf(std::FILE* Stream) {
  if (Stream == nullptr) return nullptr;
  const int fd = ::_fileno(Stream);
  if (fd < 0) return nullptr;
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : nullptr;
}

}  // namespace

void OpenTerminal(std::FILE*& In, std::FILE*& Out) {
  // Both for reading and writing: the console's mode and buffer queries need
  // read access (a write-only CONOUT$ fails them, and the console is then
  // taken for a file), and turning the echo off needs write access to
  // CONIN$.
  In = ::_wfopen(L"CONIN$", L"r+");
  Out = ::_wfopen(L"CONOUT$", L"r+");
}

void CloseTerminal(std::FILE* In, std::FILE* Out) {
  if (In != nullptr) std::fclose(In);
  if (Out != nullptr && Out != In) std::fclose(Out);
}

bool IsTerminal(std::FILE* Stream) { return ConsoleOf(Stream) != nullptr; }

bool PrepareTerminal(std::FILE* Out) {
  const HANDLE h = ConsoleOf(Out);
  DWORD mode = 0;
  if (h == nullptr || !::GetConsoleMode(h, &mode)) return false;
  // Without it (older consoles) the redrawn line is blanked out by spaces.
  if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
      !::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
    return false;
  // Some consoles take the mode and still print the sequence (Wine's): an
  // erase that moves the cursor was printed; it is wiped out again.
  std::fflush(Out);
  CONSOLE_SCREEN_BUFFER_INFO before{}, after{};
  if (!::GetConsoleScreenBufferInfo(h, &before)) return false;
  DWORD written = 0;
  ::WriteConsoleW(h, L"\x1b[K", 3, &written, nullptr);
  if (!::GetConsoleScreenBufferInfo(h, &after)) return false;
  if (after.dwCursorPosition.X == before.dwCursorPosition.X && after.dwCursorPosition.Y == before.dwCursorPosition.Y)
    return true;
  DWORD filled = 0;
  ::FillConsoleOutputCharacterW(h, L' ', written, before.dwCursorPosition, &filled);
  ::SetConsoleCursorPosition(h, before.dwCursorPosition);
  return false;
}

int TerminalWidth(std::FILE* Out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE h = ConsoleOf(Out);
  if (h == nullptr || !::GetConsoleScreenBufferInfo(h, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void WriteText(std::FILE* Out, const std::string& Text) {
  const HANDLE h = ConsoleOf(Out);
  if (h == nullptr) {
    std::fwrite(Text.data(), 1, Text.size(), Out);  // a file or a pipe gets the UTF-8 bytes
    return;
  }
  std::fflush(Out);  // what the stream holds goes first
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), n);
  for (size_t done = 0; done < wide.size();) {
    DWORD written = 0;
    if (!::WriteConsoleW(h, wide.data() + done, static_cast<DWORD>(wide.size() - done), &written, nullptr) ||
        written == 0)
      break;
    done += written;
  }
}

TEchoOff::TEchoOff(std::FILE* In) : in_(In) {
  const HANDLE h = ConsoleOf(in_);
  DWORD mode = 0;
  if (h == nullptr || !::GetConsoleMode(h, &mode)) return;
  saved_[0] = mode;
  active_ = ::SetConsoleMode(h, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
}

TEchoOff::~TEchoOff() {
  if (!active_) return;
  if (const HANDLE h = ConsoleOf(in_)) ::SetConsoleMode(h, static_cast<DWORD>(saved_[0]));
}

}  // namespace kelvora::detail
