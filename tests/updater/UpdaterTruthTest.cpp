// The updater says what is true: a queue it cannot read, or one with nothing
// to install, is a failure and never announced as an upgrade; an undo that
// cannot put a file back starts no program; a setup program's changes are
// never called undone.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "updater/Command.h"
#include "updater/Transaction.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

// Waits (bounded) until Path holds exactly Text.
bool WaitForText(const std::string& Path, const std::string& Text) {
  for (int i = 0; i < 2000; ++i) {
    if (FileExists(Path) && ReadWholeFile(Path) == Text) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(UpdaterTruth, AQueueItCannotReadOrWithNothingToInstallIsAFailureNeverAnUpgrade) {
  using namespace kelvora::updater;
  // The writer refuses a confirmation time out of range; the reader agrees.
  std::string text;
  const std::vector<TQueueEntry> one{{"/a/x.uTMP", "/a/x", false}};
  EXPECT_FALSE(FormatQueue(one, text, 1000000));
  EXPECT_FALSE(FormatQueue(one, text, kMaxConfirmSeconds + 1));
  EXPECT_FALSE(FormatQueue(one, text, -1));
  ASSERT_TRUE(FormatQueue(one, text, kMaxConfirmSeconds));

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"confirm\t1000000\n", "is not between 1 and 3600 seconds"},
      {"confirm\t0\n", "is not between 1 and 3600 seconds"},
      {"no tab here\n", "is not a file entry"},
      {"", "the upgrade held no file to install"},
      {"missing", "the upgrade held no file to install"}};
  for (const auto& [body, cause] : cases) {
    SCOPED_TRACE(body);
    UpdaterFolders f;
    const std::string app = f.App("demo");
    CopyProgram(ProbeExe(), app);
    const std::string oldBuild = ReadWholeFile(app);
    WriteTextFile(f.App("x.dat"), "old");
    WriteTextFile(app + ".uTMP", oldBuild + "\nnew build\n");
    if (body != "missing") WriteTextFile(f.App("x.dat.uTMP"), "new");
    ::mkdir(f.State().c_str(), 0700);
    // As the engine leaves them: every download noted, the queue committed.
    WriteTextFile(f.State() + "staging", f.App("x.dat.uTMP") + "\n" + app + ".uTMP\n");
    std::string queue = "kelvora-queue 1\n" + (body == "missing" ? std::string() : body);
    if (body == "missing" || body.rfind("confirm", 0) == 0) queue += f.App("x.dat.uTMP") + "\t" + f.App("x.dat") + "\n";
    if (body.rfind("confirm", 0) == 0) queue += app + ".uTMP\t" + app + "\n";
    if (body == "missing") ::unlink((app + ".uTMP").c_str());
    WriteTextFile(f.QueueFile(), queue + "end\n");

    EXPECT_EQ(RunUpdater(f, {app, "+/afterupgrade0"}), static_cast<int>(TExitCode::NotInstalled))
        << ReadWholeFile(f.Log());
    EXPECT_TRUE(ReadWholeFile(app) == oldBuild) << "the old build";
    EXPECT_EQ(ReadWholeFile(f.App("x.dat")), "old");
    for (const std::string& left : {f.App("x.dat.uTMP"), app + ".uTMP", f.QueueFile(), f.State() + "journal",
                                    f.State() + "staging", f.State() + "confirmed"})
      EXPECT_FALSE(FileExists(left)) << left;
    const std::string failed = ReadWholeFile(f.State() + "failed");
    EXPECT_NE(failed.find(cause), std::string::npos) << failed;
    EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), 3) << "the previous version is in place: " << failed;
    // An ordinary start: never told it was upgraded.
    EXPECT_TRUE(WaitForText(app + ".started", OwnNice())) << ReadWholeFile(app + ".started");
  }
}

bool ChattrWorks(const std::string& Path) {
  if (std::system(("chattr +i '" + Path + "' 2>/dev/null").c_str()) != 0) return false;
  return std::system(("chattr -i '" + Path + "'").c_str()) == 0;
}

TEST(UpdaterUndo, SaysWhatIsTrueWhenThePreviousVersionIsNotWhollyBack) {
  using kelvora::updater::TExitCode;
  {
    SCOPED_TRACE("a file the new release made immutable cannot be put back");
    UpdaterFolders f;
    const std::string app = f.App("demo");
    CopyProgram(ProbeExe(), app);
    const std::string oldBuild = ReadWholeFile(app);
    WriteTextFile(f.App("a.dat"), "old a");
    if (!ChattrWorks(f.App("a.dat"))) GTEST_SKIP() << "chattr +i is not supported here";
    WriteTextFile(f.App("a.dat.uTMP"), "new a");
    CopyProgram(ProbeExe(), app + ".uTMP", 0644);
    { std::ofstream(app + ".uTMP", std::ios::app) << "\nnew build\n"; }
    WriteQueue(app, {{f.App("a.dat.uTMP"), f.App("a.dat")}, {app + ".uTMP", app}}, 1);
    // The new build pins the new a.dat, ends without confirming, and is undone.
    const int rc = RunUpdater(f, {app, "+/afterupgrade0"}, {{"KV_PROBE_IMMUTABLE", f.App("a.dat")}});
    std::system(("chattr -i '" + f.App("a.dat") + "'").c_str());
    ASSERT_EQ(rc, static_cast<int>(TExitCode::Stuck)) << ReadWholeFile(f.Log());
    EXPECT_EQ(ReadWholeFile(f.App("a.dat")), "new a");
    EXPECT_TRUE(FileExists(f.State() + "journal")) << "kept for the next start";
    const std::string failed = ReadWholeFile(f.State() + "failed");
    EXPECT_EQ(failed.rfind("kelvora-failed 1\n" + f.App("a.dat") + "\n", 0), 0u) << failed;
    EXPECT_NE(failed.find("could not be put back (Operation not permitted)"), std::string::npos) << failed;
    EXPECT_NE(failed.find("ended with status 0 and nothing confirmed its start within 1 s"), std::string::npos);
    EXPECT_EQ(failed.substr(failed.size() - 6), "mixed\n");
    EXPECT_NE(ReadWholeFile(f.Log()).find("no program was started"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(app + ".started"), "/afterupgrade\n" + OwnNice()) << "only the new build ever started";

    // The next start tries again (as the program hands it to the updater).
    ASSERT_EQ(RunUpdater(f, {"--recover", app, "+"}), 0) << ReadWholeFile(f.Log());
    EXPECT_EQ(ReadWholeFile(f.App("a.dat")), "old a");
    EXPECT_TRUE(ReadWholeFile(app) == oldBuild) << "the old build";
    EXPECT_FALSE(FileExists(f.State() + "journal"));
    EXPECT_FALSE(FileExists(f.State() + "confirmed"));
    EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), 4);
    EXPECT_TRUE(WaitForText(app + ".started", OwnNice()));
    const std::string now = ReadWholeFile(f.State() + "failed");
    EXPECT_NE(now.find("is back now"), std::string::npos) << now;
  }
  {
    SCOPED_TRACE("a setup program ran before the new release failed");
    UpdaterFolders f;
    const std::string app = f.App("demo");
    CopyProgram(ProbeExe(), app);
    CopyProgram(ProbeExe(), f.App("install.exe.uTMP"), 0644);
    CopyProgram(ProbeExe(), app + ".uTMP", 0644);
    { std::ofstream(app + ".uTMP", std::ios::app) << "\nnew build\n"; }
    WriteQueue(app, {{f.App("install.exe.uTMP"), f.App("install.exe"), true}, {app + ".uTMP", app}}, 1);
    ASSERT_EQ(RunUpdater(f, {app, "+/afterupgrade1"}), static_cast<int>(TExitCode::NotInstalled))
        << ReadWholeFile(f.Log());
    EXPECT_TRUE(FileExists(f.App("install.exe.started"))) << "the setup ran";
    const std::string failed = ReadWholeFile(f.State() + "failed");
    EXPECT_NE(failed.find("what its setup program changed stays"), std::string::npos) << failed;
    EXPECT_EQ(failed.substr(failed.size() - 6), "setup\n");
    EXPECT_NE(ReadWholeFile(f.Log()).find("what its setup program changed stays"), std::string::npos);
    EXPECT_TRUE(WaitForText(app + ".started", OwnNice()));
  }
}

}  // namespace
}  // namespace kvtest
