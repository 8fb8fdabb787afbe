// The console's system side (linux/ and win32/ Terminal.cpp): whether a
// stream is a terminal, its width, echo off for a password, and writing
// UTF-8 text to it.
#pragma once

#include <cstdio>
#include <string>

namespace kelvora::detail {

// The user's terminal for questions and answers when the host gives no
// streams: In and Out (possibly one stream for both); nullptr when there is
// none. Close with CloseTerminal.
void OpenTerminal(std::FILE*& In, std::FILE*& Out);
void CloseTerminal(std::FILE* In, std::FILE* Out);

bool IsTerminal(std::FILE* Stream);
// Prepares a terminal for UTF-8 text and in-place redraws; true when it
// understands "\033[K" (erase to the end of the line).
bool PrepareTerminal(std::FILE* Out);
// The terminal's width in columns; 0 when unknown.
int TerminalWidth(std::FILE* Out);
// Writes UTF-8 Text as it is; on a Windows console as characters.
void WriteText(std::FILE* Out, const std::string& Text);

// Turns off the echo of a terminal In while it lives.
class TEchoOff {
 public:
  explicit TEchoOff(std::FILE* In);
  ~TEchoOff();
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;
  bool Active() const { return active_; }

 private:
  std::FILE* in_;
  bool active_ = false;
  unsigned long saved_[16] = {};  // the terminal's settings before
};

}  // namespace kelvora::detail
