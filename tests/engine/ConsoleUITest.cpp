#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/kvUtils.h"
#include "ui/ProgressFigures.h"

using namespace kelvora;

namespace {
// A console whose input is Answers and whose output is captured.
struct Console {
  std::FILE* in;
  char* outBuf = nullptr;
  size_t outLen = 0;
  std::FILE* out;
  explicit Console(const std::string& Answers) {
    in = ::fmemopen(nullptr, Answers.size() + 1, "w+");
    std::fputs(Answers.c_str(), in);
    std::rewind(in);
    out = ::open_memstream(&outBuf, &outLen);
  }
  ~Console() {
    std::fclose(in);
    std::fclose(out);
    std::free(outBuf);
  }
  std::string Output() {
    std::fflush(out);
    return std::string(outBuf, outLen);
  }
};
}  // namespace

TEST(ConsoleUI, AnswersQuestionsFromTheTerminal) {
  Console c("maybe\ny\nn\nalice\nsecret\n");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAsk, c.in, c.out);
  EXPECT_TRUE(ui.AskUpgrade("A newer version was released."));  // "maybe" is asked again
  EXPECT_EQ(ui.MessageBox("Skip this file?", "Error #404", mbYesNo | mbIconExclamation), idNo);
  std::string user = "bob", pass;
  EXPECT_TRUE(ui.AskPassword("Password for setup.exe", user, pass));
  EXPECT_EQ(user, "alice");
  EXPECT_EQ(pass, "secret");
  std::string out = c.Output();
  EXPECT_NE(out.find("[Error #404] Skip this file?"), std::string::npos);
  EXPECT_NE(out.find("User name [bob]"), std::string::npos);
  EXPECT_EQ(out.find("secret"), std::string::npos) << "the password is never shown";
}

TEST(ConsoleUI, AssumeYesAnswersYesButRefusesPasswords) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, c.in, c.out);
  EXPECT_TRUE(ui.AskUpgrade("New version"));
  EXPECT_EQ(ui.MessageBox("Skip?", "Error", mbYesNo), idYes);
  std::string u, p;
  EXPECT_FALSE(ui.AskPassword("Password", u, p));
}

TEST(ConsoleUI, WithoutATerminalItRefusesAndSaysWhy) {
  if (std::FILE* tty = std::fopen("/dev/tty", "r")) {
    std::fclose(tty);
    GTEST_SKIP() << "this process has a terminal";
  }
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAsk, nullptr, c.out);
  EXPECT_FALSE(ui.AskUpgrade("New version"));
  std::string u, p;
  EXPECT_FALSE(ui.AskPassword("Password", u, p));
  EXPECT_NE(c.Output().find("no terminal"), std::string::npos);
}

TEST(ConsoleUI, BareCarriageReturnsBecomeLineBreaksAndControlsAreDefused) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, c.in, c.out);
  ui.MessageBox("one\rtwo\r\nthree", "Fejl", mbOK);
  // A message from the server that would retitle the terminal and clear it.
  ui.AskUpgrade("New:\033]0;owned\a\u009b2J\tok ü");
  EXPECT_EQ(c.Output(), "[Fejl] one\ntwo\nthree\nNew:?]0;owned??2J\tok ü\nUpgrade now? yes (assumed)\n");
}

TEST(ConsoleUI, InputAtItsEndAnswersNo) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAsk, c.in, c.out);
  EXPECT_FALSE(ui.AskUpgrade("New version"));
}

TEST(ConsoleUI, ProgressLineKeepsItsBarAndDropsWholeFieldsToFitTheWidth) {
  const std::string size = "File size: 1.5 Kb", rate = "Transfer rate: 3.0 Kb/s", left = "Estimated time left: 0:00:12";
  const std::string full = "45% (all 22%)  " + size + "  " + rate + "  " + left;
  auto bar = [](int Filled, int Width) {
    return "[" + std::string(static_cast<size_t>(Filled), '#') + std::string(static_cast<size_t>(Width - Filled), ' ') +
           "] ";
  };
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, 0), full) << "the plain line: no bar";
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, 200), bar(22, 50) + full);
  // Every width of a terminal from 40 columns keeps a bar; the size goes
  // first, then the rate, then the time left.
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, static_cast<int>(full.size())),
            bar(7, 16) + "45% (all 22%)  " + rate + "  " + left);
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, 79), bar(14, 33) + "45% (all 22%)  " + left);
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, 50), bar(15, 34) + "45% (all 22%)");
  for (int width = 40; width <= 200; ++width) {
    const std::string line = TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, width);
    EXPECT_EQ(line.front(), '[') << width;
    EXPECT_LE(static_cast<int>(line.size()), width) << width;
  }
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, size, rate, left, 5), "45% (all 22%)") << "never cut";
  // Chinese characters take two columns each.
  const std::string zhRate = "传输速率：3.0 KB/s", zhLeft = "预计剩余时间：0:00:12";  // 18 and 21 columns
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, "", zhRate, zhLeft, 13 + 2 + 18 + 2 + 21 + 13),
            bar(4, 10) + "45% (all 22%)  " + zhRate + "  " + zhLeft);
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(45, 22, "", zhRate, zhLeft, 13 + 2 + 18 + 2 + 21 + 12),
            bar(13, 29) + "45% (all 22%)  " + zhLeft) << "one column short: the rate goes, the bar grows";
  EXPECT_EQ(TkvConsoleUpgradeUI::ProgressLine(100, 100, "", "", "", 40), bar(22, 22) + "100% (all 100%)")
      << "unknown figures leave no gaps";
}

TEST(ConsoleUI, ShownFiguresWaitUntilTheyMeanSomething) {
  // The first second: no rate from the bytes so far, no time left.
  auto f = ui::ShownFigures(4000, 1000, 1000, 0.99);
  EXPECT_FALSE(f.RateKnown);
  EXPECT_FALSE(f.TimeLeftKnown);
  EXPECT_EQ(ui::TransferRateText(f), "");
  EXPECT_EQ(ui::TimeLeftText(f), "");
  // Sub-second time counts: 1536 KiB in 1.5 s is 1024 KiB/s, not 1536.
  f = ui::ShownFigures(4 << 20, 1536 << 10, 1536 << 10, 1.5);
  EXPECT_DOUBLE_EQ(f.KiBPerSecond, 1024.0);
  EXPECT_EQ(ui::TransferRateText(f), "Transfer rate: 1024.0 Kb/s");
  EXPECT_EQ(ui::TimeLeftText(f), "Estimated time left: 0:00:03");
  // A partial second left is rounded up while bytes are still missing.
  EXPECT_EQ(ui::ShownFigures(4000, 3999, 3999, 2.0).SecondsLeft, 1);
  // No size announced: a rate, and no time left instead of a negative one.
  f = ui::ShownFigures(0, 5000, 5000, 5.0);
  EXPECT_TRUE(f.RateKnown);
  EXPECT_FALSE(f.TimeLeftKnown);
  // All in within the first second: nothing left.
  EXPECT_EQ(ui::TimeLeftText(ui::ShownFigures(4000, 4000, 4000, 0.2)), "Estimated time left: 0:00:00");
  // A stalled transfer has a rate of 0 and no time left, not an endless one.
  f = ui::ShownFigures(4000, 0, 0, 30.0);
  EXPECT_TRUE(f.RateKnown);
  EXPECT_FALSE(f.TimeLeftKnown);
}

TEST(ConsoleUI, ProgramWithoutATitleIsNamedByItsFile) {
  const std::string saved = Application().Title();
  Application().SetTitle("");
  const std::string exe = CurrentExeName().substr(CurrentExeName().rfind('/') + 1);
  EXPECT_EQ(ProgramTitle(), exe);
  Application().SetTitle("Kelvora Demo");
  EXPECT_EQ(ProgramTitle(), "Kelvora Demo");
  Application().SetTitle(saved);
}

TEST(ConsoleUI, PlainProgressLinesPerTenthWithoutControlCharacters) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, c.in, c.out);
  ui.ShowWizard({}, {});
  ui.WizardFile("http://h/a.bin", "Downloading 1 of 1");
  ui.WizardFileSize("File size: 400.0 Kb");
  for (int p = 0; p <= 99; ++p) ui.WizardProgress(p, p, "Transfer rate: 1.0 Kb/s", "");
  ui.DestroyWizard();  // the end shows the last figures once
  const std::string out = c.Output();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1 + 10) << out;
  EXPECT_NE(out.find("\n10% (all 10%)  File size: 400.0 Kb  Transfer rate: 1.0 Kb/s\n"), std::string::npos);
  EXPECT_NE(out.find("\n99% (all 99%)"), std::string::npos);
  EXPECT_EQ(out.find_first_of("\r\033\b"), std::string::npos);
}

TEST(ConsoleUI, CompletionPageClosesByItselfAndTellsTheEngine) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, c.in, c.out);
  bool closed = false;
  ui.ShowWizard({}, {[&] { closed = true; }, nullptr});
  ui.WizardFile("http://h/a.exe", "Downloading 1 of 1");
  ui.WizardProgress(50, 50, "Transfer rate: 1.0 Kb/s", "Estimated time left: 0:00:01");
  ui.ShowWizardCompleted();
  EXPECT_TRUE(ui.HasWizard());
  Application().ProcessMessages();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(ui.HasWizard());
}
