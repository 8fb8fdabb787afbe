#include "ui/Terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

namespace kelvora::detail {

static_assert(sizeof(termios) <= sizeof(unsigned long[16]), "termios fits the saved settings");

void OpenTerminal(std::FILE*& In, std::FILE*& Out) { In = Out = std::fopen("/dev/tty", "r+"); }

void CloseTerminal(std::FILE* In, std::FILE*) {
  if (In != nullptr) std::fclose(In);
}

bool IsTerminal(std::FILE* Stream) { return ::isatty(::fileno(Stream)) != 0; }

bool PrepareTerminal(std::FILE*) { return true; }

int TerminalWidth(std::FILE* Out) {
  winsize ws{};
  return ::ioctl(::fileno(Out), TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

void WriteText(std::FILE* Out, const std::string& Text) { std::fwrite(Text.data(), 1, Text.size(), Out); }

TEchoOff::TEchoOff(std::FILE* In) : in_(In) {
  termios saved{};
  const int fd = ::fileno(in_);
  if (::isatty(fd) == 0 || ::tcgetattr(fd, &saved) != 0) return;
  std::memcpy(saved_, &saved, sizeof saved);
  termios quiet = saved;
  quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
  ::tcsetattr(fd, TCSAFLUSH, &quiet);
  active_ = true;
}

TEchoOff::~TEchoOff() {
  if (!active_) return;
  termios saved{};
  std::memcpy(&saved, saved_, sizeof saved);
  ::tcsetattr(::fileno(in_), TCSAFLUSH, &saved);
}

}  // namespace kelvora::detail
