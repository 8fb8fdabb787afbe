// The front door against nginx: every outcome of a check reported once,
// with its details.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "engine/EngineFixture.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/StateFolder.h"
#include "kelvora/Updater.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {

// The stand-in updater of an earlier run may hold the upgrade lock a moment.
void WaitForUpgradeLock() {
  const int fd = ::open((StateFolder() + "lock").c_str(), O_RDONLY | O_CLOEXEC);
  for (int i = 0; fd >= 0 && i < 500 && ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (fd >= 0) ::close(fd);
}

}  // namespace

TEST_F(EngineTest, FrontDoorReportsEveryCheckOnceWithItsOutcome) {
  EXPECT_THROW(Updater({.infoAddress = "http://127.0.0.1/info.txt"}), std::invalid_argument);

  // A web page offered by the info file goes to this test's browser.
  TempDir desktop;
  const std::string opened = desktop.File("opened.txt");
  InstallRecordingBrowser(desktop, opened);

  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });
  server->AddPatternFile("prog.bin", 5000);
  const std::string file = "#url1=" + server->Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n";
  Updater updater({.infoAddress = server->Url("/info.txt"), .version = "1.4.0"});
  updater.component().SetUI(&ui);
  std::vector<Result> results;
  updater.onFinished([&](const Result& R) { results.push_back(R); });
  EXPECT_FALSE(updater.restarted());

  const struct {
    const char* name;
    std::string info;  // served as /info.txt; empty: nothing there
    std::function<void()> before;
    Outcome outcome;
    std::string offered;
  } cases[] = {
      {"up to date", "#version=1.4.0\n" + file, [] {}, Outcome::UpToDate, "1.4.0"},
      {"later", "#version=1.5.0\n" + file, [&] { ui.UpgradeAnswers.push_back(false); }, Outcome::Later, "1.5.0"},
      {"declined", "#version=1.5.0\n" + file,
       [&] {
         // The user closes the completion page and confirms.
         ui.PressFinishOnCompletion = false;
         updater.component().OnFileDone = [&](TObject*, const std::string&) {
           LoopBackend().Post([&] { ui.CloseWizard(true); });
         };
       },
       Outcome::Declined, "1.5.0"},
      {"failed", "#version=1.5.0\n#url1=" + server->Url("/prog.bin") + "=/proc/kelvora-cannot/prog.bin\n",
       [&] {
         ui.PressFinishOnCompletion = true;
         updater.component().OnFileDone = nullptr;
       },
       Outcome::Failed, "1.5.0"},
      {"refused", "#version=1.5.0\n" + file, [&] { updater.component().SetPublicKey("MFkwEwYHKoZIzj0CAQYI"); },
       Outcome::VerificationRefused, "1.5.0"},
      {"no info file", "",
       [&] {
         updater.component().SetPublicKey("");
         updater.component().SetInfoFileURL(server->Url("/missing.txt"));
       },
       Outcome::NoInfoFile, ""},
      {"connection", "#version=1.5.0\n" + file,
       [&] { updater.component().SetInfoFileURL("http://127.0.0.1:1/info.txt"); }, Outcome::ConnectionProblem, ""},
      {"web page", "#version=1.5.0\n#method=2\n#url1=www.example.invalid/news.html\n",
       [&] { updater.component().SetInfoFileURL(server->Url("/info.txt")); }, Outcome::OpenedWebPage, "1.5.0"},
      {"updated", "#version=1.5.0\n" + file, [] {}, Outcome::Updated, "1.5.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.info.empty()) server->AddTextFile("info.txt", c.info);
    c.before();
    WaitForUpgradeLock();
    const size_t before = results.size();
    const int boxes = ui.Count("MessageBox:");
    updater.checkNow();
    updater.checkNow();  // under way: starts nothing
    ASSERT_TRUE(PumpUntil([&] { return results.size() > before && !updater.component().Busy(); }));
    for (int i = 0; i < 20; ++i) {  // nothing more comes
      LoopBackend().WaitFor(nullptr, 5, TWakeMask::AnyInput);
      Application().ProcessMessages();
    }
    ASSERT_EQ(results.size(), before + 1);
    const Result& r = results.back();
    EXPECT_EQ(OutcomeName(r.outcome), std::string(OutcomeName(c.outcome)));
    EXPECT_TRUE(r.userStarted);
    EXPECT_EQ(r.offeredVersion, c.offered);
    EXPECT_FALSE(updater.checking());
    if (c.outcome == Outcome::Failed || c.outcome == Outcome::VerificationRefused) {
      EXPECT_NE(r.reason, "");
    }
    if (c.outcome == Outcome::NoInfoFile) {
      EXPECT_EQ(r.statusCode, 404);
      EXPECT_EQ(r.address, server->Url("/missing.txt"));
      updater.component().SetInfoFileURL(server->Url("/info.txt"));
    }
    if (c.outcome == Outcome::ConnectionProblem) {
      EXPECT_EQ(r.address, "http://127.0.0.1:1/info.txt");
    }
    // A check the user started says "up to date" and what went wrong.
    if (c.outcome == Outcome::UpToDate || c.outcome == Outcome::NoInfoFile || c.outcome == Outcome::ConnectionProblem) {
      EXPECT_EQ(ui.Count("MessageBox:"), boxes + 1);
    }
  }
  EXPECT_TRUE(Application().Terminated()) << "closed for the restart";
  EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 5000));
  EXPECT_TRUE(FileExists(opened));
  // Every upgrade above went beside the program: said once to the developer.
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("no entry of the info file replaces the running program"), std::string::npos) << notes[0];
  SetDeveloperLog(nullptr);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(EngineTest, FrontDoorTellsThePreviousReleaseWhyItsUpgradeWasUndone) {
  // What the updater leaves after putting the previous release back.
  ::mkdir(StateFolder().c_str(), 0700);
  WriteTextFile(StateFolder() + "failed", "kelvora-failed 1\n" + dir.File("a.bin") + "\nIs a directory\n");
  SetUpgradeUI(&ui);
  Updater updater({.infoAddress = server->Url("/info.txt"), .version = "1.4.0"});
  std::vector<Result> told;
  updater.onRestarted([&](const Result& R) { told.push_back(R); });
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].outcome, Outcome::InstallFailed);
  EXPECT_EQ(told[0].reason, dir.File("a.bin") + ": Is a directory");
  EXPECT_FALSE(updater.restarted()) << "started as an ordinary run, not by the updater";
  EXPECT_FALSE(FileExists(StateFolder() + "failed")) << "told once";
  SetUpgradeUI(nullptr);
}

TEST_F(EngineTest, FrontDoorCancelAndDestructionEndAStalledDownloadWithOneCancelled) {
  // The download sends a part, then stalls: the check is in the middle of it.
  FaultServer stalling;
  const std::string stalled = stalling.Url("/p/stall/n:200000/after:4000");
  server->AddTextFile("info.txt", "#version=1.5.0\n#url1=" + stalled + "=" + dir.File("prog.bin") + "\n");
  std::vector<Result> results;
  auto updater = std::make_unique<Updater>(Options{.infoAddress = server->Url("/info.txt"), .version = "1.4.0"});
  updater->component().SetUI(&ui);
  updater->onFinished([&](const Result& R) { results.push_back(R); });
  bool started = false;  // the download's header came, and a part of its body follows
  updater->component().OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool&) {
    started = true;
  };

  updater->cancel();  // no check under way: nothing
  EXPECT_TRUE(results.empty());
  for (const bool destroy : {false, true}) {
    SCOPED_TRACE(destroy ? "destroyed" : "cancel()");
    WaitForUpgradeLock();
    started = false;
    results.clear();
    updater->checkNow();
    ASSERT_TRUE(PumpUntil([&] { return started; })) << "the download never started";
    ASSERT_TRUE(results.empty());
    if (destroy)
      updater.reset();
    else
      updater->cancel();
    ASSERT_EQ(results.size(), 1u) << "told before cancel() or the destructor returns";
    EXPECT_EQ(results[0].outcome, Outcome::Cancelled);
    EXPECT_STREQ(OutcomeName(results[0].outcome), "cancelled");
    EXPECT_EQ(results[0].offeredVersion, "1.5.0");
    for (int i = 0; i < 20; ++i) {  // nothing more comes
      LoopBackend().WaitFor(nullptr, 5, TWakeMask::AnyInput);
      Application().ProcessMessages();
    }
    EXPECT_EQ(results.size(), 1u);
    EXPECT_FALSE(FileExists(dir.File("prog.bin")));
    EXPECT_FALSE(FileExists(dir.File("prog.bin.uTMP"))) << "nothing is left to install";
    if (!destroy) {
      EXPECT_FALSE(updater->checking());
      updater->cancel();  // a second cancel: nothing
      EXPECT_EQ(results.size(), 1u);
    }
  }
  EXPECT_EQ(ui.Count("DestroyWizard"), 2) << "the wizard closed with each";

  // Off the UI thread, the front door refuses instead of racing the loop.
  Updater other({.infoAddress = server->Url("/info.txt"), .version = "1.4.0"});
  std::thread([&] {
    EXPECT_THROW(other.checkNow(), std::logic_error);
    EXPECT_THROW(other.cancel(), std::logic_error);
  }).join();
  EXPECT_FALSE(other.checking());
}
