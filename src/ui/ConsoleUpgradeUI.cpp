#include "kelvora/ConsoleUpgradeUI.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "kelvora/LoopBackend.h"
#include "ui/Terminal.h"

namespace kelvora {

TkvConsoleUpgradeUI::TkvConsoleUpgradeUI(TMode Mode, std::FILE* In, std::FILE* Out)
    : mode_(Mode), in_(In), out_(Out) {
  if (in_ == nullptr || out_ == nullptr) {
    detail::OpenTerminal(ttyIn_, ttyOut_);
    if (in_ == nullptr) in_ = ttyIn_;
    if (out_ == nullptr) out_ = ttyOut_ != nullptr ? ttyOut_ : stderr;
  }
  terminal_ = detail::IsTerminal(out_);
  if (terminal_) erases_ = detail::PrepareTerminal(out_);
}

TkvConsoleUpgradeUI::~TkvConsoleUpgradeUI() { detail::CloseTerminal(ttyIn_, ttyOut_); }

void TkvConsoleUpgradeUI::Put(const std::string& Text) { detail::WriteText(out_, Text); }

bool TkvConsoleUpgradeUI::Interactive() { return mode_ == cmAsk && in_ != nullptr; }

void TkvConsoleUpgradeUI::Say(const std::string& Text) {
  EndProgressLine();
  // Some languages break their lines with a bare CR, which a terminal would
  // take as a return to the start of the same line.
  // Other control characters (escape sequences in a message or an address
  // the server sent) are shown as "?", never obeyed by the terminal.
  std::string lines;
  for (size_t i = 0; i < Text.size(); ++i) {
    const auto c = static_cast<unsigned char>(Text[i]);
    if (c == '\r') {
      if (i + 1 >= Text.size() || Text[i + 1] != '\n') lines += '\n';
    } else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
      lines += '?';
    } else if (c == 0xC2 && i + 1 < Text.size() && (static_cast<unsigned char>(Text[i + 1]) & 0xE0) == 0x80) {
      lines += '?';  // U+0080..U+009F, the C1 controls
      ++i;
    } else {
      lines += Text[i];
    }
  }
  if (lines.empty() || lines.back() != '\n') lines += '\n';
  Put(lines);
  std::fflush(out_);
}

void TkvConsoleUpgradeUI::EndProgressLine() {
  // The end of a file always shows its last figures.
  if (progressPending_) DrawProgress();
  if (progressShown_) Put("\n");
  progressShown_ = false;
  progressTenths_ = 0;
}

std::string TkvConsoleUpgradeUI::ReadLine(bool Echo) {
  const bool tty = detail::IsTerminal(in_);
  std::string line;
  {
    std::optional<detail::TEchoOff> quiet;
    if (!Echo && tty) quiet.emplace(in_);
    int c;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
  }
  if (!Echo && tty) Put("\n");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool TkvConsoleUpgradeUI::AskYesNo(const std::string& Question) {
  if (mode_ == cmAssumeYes) {
    Say(Question + " yes (assumed)");
    return true;
  }
  if (!Interactive()) {
    Say(Question + " no (no terminal to ask on; run with the assume-yes mode to answer yes)");
    return false;
  }
  for (int tries = 0; tries < 5; ++tries) {
    Put(Question + " [y/n] ");
    std::fflush(out_);
    if (std::feof(in_)) break;
    std::string a = ReadLine(true);
    if (a == "y" || a == "Y" || a == "yes") return true;
    if (a == "n" || a == "N" || a == "no" || std::feof(in_)) return false;
  }
  return false;
}

bool TkvConsoleUpgradeUI::AskUpgrade(const std::string& Text) {
  EndProgressLine();
  Say(Text);
  return AskYesNo("Upgrade now?");
}

bool TkvConsoleUpgradeUI::AskPassword(const std::string& Text, std::string& Username, std::string& Password) {
  Say(Text);
  if (!Interactive()) {
    Say(mode_ == cmAssumeYes ? "A password cannot be assumed: cancelled."
                             : "No terminal to ask for a password on: cancelled.");
    return false;
  }
  Put("User name [" + Username + "]: ");
  std::fflush(out_);
  std::string user = ReadLine(true);
  if (std::feof(in_) && user.empty()) return false;
  Put("Password: ");
  std::fflush(out_);
  std::string pass = ReadLine(false);
  if (!user.empty()) Username = user;
  Password = pass;
  return true;
}

int TkvConsoleUpgradeUI::MessageBox(const std::string& Text, const std::string& Caption, unsigned Flags) {
  Say("[" + Caption + "] " + Text);
  if ((Flags & mbButtonMask) == mbYesNo) return AskYesNo("Answer:") ? idYes : idNo;
  return idOK;
}

void TkvConsoleUpgradeUI::ShowWizard(const TkvWizardOptions&, TkvWizardHooks Hooks) {
  open_ = true;
  hooks_ = std::move(Hooks);
  size_.clear();
  progressPending_ = false;
  progressTenths_ = 0;
}

void TkvConsoleUpgradeUI::WizardFile(const std::string& FileURL, const std::string& AllDownloading) {
  EndProgressLine();
  file_ = FileURL;
  Say(AllDownloading + ": " + FileURL);
  size_.clear();
}

void TkvConsoleUpgradeUI::WizardFileSize(const std::string& Text) { size_ = Text; }

namespace {

// The columns a UTF-8 text takes on a terminal: East Asian wide characters
// (the Chinese texts) take two.
int TerminalColumns(const std::string& Text) {
  int columns = 0;
  for (size_t i = 0; i < Text.size();) {
    const auto lead = static_cast<unsigned char>(Text[i]);
    const size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; k < length && i + k < Text.size(); ++k) c = (c << 6) | (Text[i + k] & 0x3F);
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
                      (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
    columns += wide ? 2 : 1;
    i += length;
  }
  return columns;
}

}  // namespace

std::string TkvConsoleUpgradeUI::ProgressLine(int PercentsDone, int TotalPercentsDone, const std::string& Size,
                                              const std::string& Rate, const std::string& TimeLeft, int Width) {
  const std::string percents =
      std::to_string(PercentsDone) + "% (all " + std::to_string(TotalPercentsDone) + "%)";
  // Fields in the order they are given up when the line is too long.
  std::vector<const std::string*> fields{&percents, &TimeLeft, &Rate, &Size};
  std::erase_if(fields, [](const std::string* f) { return f->empty(); });
  auto joined = [&] {
    std::string line;
    for (const std::string* f : {&percents, &Size, &Rate, &TimeLeft})
      if (std::find(fields.begin(), fields.end(), f) != fields.end()) line += (line.empty() ? "" : "  ") + *f;
    return line;
  };
  std::string line = joined();
  if (Width <= 0) return line;
  auto columns = [](const std::string& Text) { return TerminalColumns(Text); };
  // The bar comes before every figure but the percentages: fields go until
  // the shortest bar fits beside them, so that a terminal of 40 columns or
  // more always shows one.
  constexpr int kMinBar = 10, kMaxBar = 50, kBarFrame = 3;  // brackets and a blank
  while (fields.size() > 1 && columns(line) + kBarFrame + kMinBar > Width) {
    fields.pop_back();
    line = joined();
  }
  // The bar takes what room is left.
  const int room = Width - columns(line) - kBarFrame;
  if (room >= kMinBar) {
    const int bar = std::min(room, kMaxBar);
    const int filled = std::clamp(PercentsDone, 0, 100) * bar / 100;
    line = "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(bar - filled), ' ') +
           "] " + line;
  }
  return line;
}

void TkvConsoleUpgradeUI::WizardProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                         const std::string& TimeLeft) {
  progress_ = {PercentsDone, TotalPercentsDone, TransferRate, TimeLeft};
  progressPending_ = true;
  if (terminal_) {
    using namespace std::chrono;
    constexpr auto kRedrawEvery = milliseconds(100);
    if (progressShown_ && steady_clock::now() - lastDraw_ < kRedrawEvery) return;
  } else if (PercentsDone / 10 <= progressTenths_ || PercentsDone >= 100) {
    return;  // a log gets its last line when the file ends: 100 % may be rounded up
  }
  DrawProgress();
}

void TkvConsoleUpgradeUI::DrawProgress() {
  progressPending_ = false;
  const TProgress& p = progress_;
  if (!terminal_) {
    // A log: one plain line, no control characters.
    progressTenths_ = std::max(progressTenths_, p.Percents / 10);
    Put(ProgressLine(p.Percents, p.TotalPercents, size_, p.Rate, p.TimeLeft, 0) + "\n");
    std::fflush(out_);
    return;
  }
  const int columns = detail::TerminalWidth(out_);
  const int width = columns > 0 ? columns : 80;
  // One column short of the edge, so that the cursor never wraps.
  std::string line = ProgressLine(p.Percents, p.TotalPercents, size_, p.Rate, p.TimeLeft, width - 1);
  const int drawn = TerminalColumns(line);
  if (erases_) {
    line += "\033[K";
  } else if (progressShown_ && drawn < drawnColumns_) {
    line += std::string(static_cast<size_t>(drawnColumns_ - drawn), ' ');  // over the longer line before
  }
  drawnColumns_ = drawn;
  Put("\r" + line);
  std::fflush(out_);
  progressShown_ = true;
  lastDraw_ = std::chrono::steady_clock::now();
}

void TkvConsoleUpgradeUI::ShowWizardCompleted() {
  Say("All files downloaded.");
  // Nothing to press on a console: the completion page closes at once.
  LoopBackend().Post([this] {
    if (!open_) return;
    open_ = false;
    auto hooks = std::move(hooks_);
    hooks_ = {};
    if (hooks.Closed) hooks.Closed();
  });
}

void TkvConsoleUpgradeUI::DestroyWizard() {
  EndProgressLine();
  open_ = false;
  hooks_ = {};
}

}  // namespace kelvora
