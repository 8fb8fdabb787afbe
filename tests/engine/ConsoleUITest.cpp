#include <gtest/gtest.h>

#include <cstdio>

#include "kelvora/Application.h"
#include "kelvora/ConsoleUpgradeUI.h"

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

TEST(ConsoleUI, BareCarriageReturnsBecomeLineBreaks) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAssumeYes, c.in, c.out);
  ui.MessageBox("one\rtwo\r\nthree", "Fejl", mbOK);
  EXPECT_EQ(c.Output(), "[Fejl] one\ntwo\nthree\n");
}

TEST(ConsoleUI, InputAtItsEndAnswersNo) {
  Console c("");
  TkvConsoleUpgradeUI ui(TkvConsoleUpgradeUI::cmAsk, c.in, c.out);
  EXPECT_FALSE(ui.AskUpgrade("New version"));
}

TEST(ConsoleUI, ProgressLineFitsTheWidthAndShowsTheFigures) {
  std::string line = TkvConsoleUpgradeUI::ProgressLine(45, 22, "File size: 1.5 Kb", "Transfer rate: 3.0 Kb/s",
                                                       "Estimated time left: 0:00:12", 120);
  EXPECT_LE(line.size(), 120u);
  EXPECT_NE(line.find("45% (all 22%)"), std::string::npos);
  EXPECT_NE(line.find("0:00:12"), std::string::npos);
  EXPECT_LE(TkvConsoleUpgradeUI::ProgressLine(100, 100, "", "", "", 40).size(), 40u);
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
