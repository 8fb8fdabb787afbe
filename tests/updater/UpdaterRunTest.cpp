// The real updater program run as a child process in temporary folders: its
// command line, the queue and the sweep, the program file rule, the restart.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "updater/Command.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

std::string OwnNice() { return "nice=" + std::to_string(getpriority(PRIO_PROCESS, 0)) + "\n"; }

TEST(UpdaterCommand, WithoutParametersOrAFullPathNothingChanges) {
  UpdaterFolders f;
  WriteQueue(f.App("demo"), {{f.App("x.dat.uTMP"), f.App("x.dat")}});
  WriteTextFile(f.App("x.dat.uTMP"), "new");
  EXPECT_EQ(RunUpdater(f, {}), 0);
  const std::string out = ReadWholeFile(f.Log());
  EXPECT_NE(out.find("Upgrader v4.0\nSelf-upgrading mechanism for Kelvora component.\n"), std::string::npos) << out;
  EXPECT_EQ(RunUpdater(f, {"demo", "+/afterupgrade0"}), 2);
  EXPECT_EQ(RunUpdater(f, {"+/afterupgrade0"}), 2);
  EXPECT_TRUE(FileExists(f.QueueFile()));
  EXPECT_TRUE(FileExists(f.App("x.dat.uTMP")));
  EXPECT_FALSE(FileExists(f.App("x.dat")));
}

TEST(UpdaterCommand, PathsWithBlanksAndPlusSignsInEitherForm) {
  UpdaterFolders f;
  const std::string folder = f.Root("my app+1/");
  ::mkdir(folder.c_str(), 0755);
  const std::string app = folder + "demo";
  WriteTextFile(app, "old");
  CopyProgram(ProbeExe(), app + ".uTMP", 0644);
  WriteQueue(app, {{app + ".uTMP", app}});
  // The engine's form: the path whole, then one "+" argument. Quotes group
  // restart parameters; any digit but "1" means self-upgrade.
  ASSERT_EQ(RunUpdater(f, {app, "+\"/after upgrade\" /z2"}), 0) << ReadWholeFile(f.Log());
  auto started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/after upgrade\n/z\n" + OwnNice());
  EXPECT_FALSE(FileExists(app + ".uTMP"));

  // The same command line split at every blank, as a shell would pass it.
  ::unlink((app + ".started").c_str());
  CopyProgram(ProbeExe(), app + ".uTMP", 0644);
  WriteQueue(app, {{app + ".uTMP", app}});
  ASSERT_EQ(RunUpdater(f, {f.Root("my"), "app+1/demo", "+/afterupgrade0"}), 0);
  started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\n" + OwnNice());

  // The program's own arguments after "--", each passed on as it is.
  ::unlink((app + ".started").c_str());
  CopyProgram(ProbeExe(), app + ".uTMP", 0644);
  WriteQueue(app, {{app + ".uTMP", app}});
  ASSERT_EQ(RunUpdater(f, {app, "+/afterupgrade0", "--", "--yes", "two words", "\"q\"", "--"}), 0);
  started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\n--yes\ntwo words\n\"q\"\n--\n" + OwnNice());
}

TEST(UpdaterMoves, OnlyTheCommittedQueueIsInstalled) {
  UpdaterFolders f;
  const std::string other = f.Root("other/");
  ::mkdir(other.c_str(), 0755);
  ::mkdir(f.App("doc").c_str(), 0755);
  WriteTextFile(f.App("demo"), "old build");
  ::chmod(f.App("demo").c_str(), 0750);
  CopyProgram(ProbeExe(), f.App("newver.exe.uTMP"), 0644);  // the engine named it the new build
  CopyProgram(ProbeExe(), f.App("tool.uTMP"), 0644);        // a new program file
  WriteTextFile(f.App("lib.so.uTMP"), "library");
  WriteTextFile(f.App("doc/help.txt.uTMP"), "help");
  WriteTextFile(other + "x.dat.uTMP", "x");
  WriteTextFile(other + "missing.dat", "kept: its download is missing");
  // Not in the queue: a download an earlier run left is never installed.
  WriteTextFile(f.App("stale.dat.uTMP"), "stale partial");
  WriteTextFile(f.App("stale.dat"), "old data");
  // An incomplete queue (no end line) was never committed: nothing moves.
  ::mkdir(f.State().c_str(), 0700);
  WriteTextFile(f.QueueFile(), "kelvora-queue 1\n" + f.App("lib.so.uTMP") + "\t" + f.App("lib.so") + "\n");
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0) << ReadWholeFile(f.Log());
  EXPECT_FALSE(FileExists(f.App("lib.so")));
  EXPECT_FALSE(FileExists(f.QueueFile())) << "an uncommitted queue is dropped";

  WriteQueue(f.App("demo"), {{f.App("lib.so.uTMP"), f.App("lib.so")},
                             {f.App("doc/help.txt.uTMP"), f.App("doc/help.txt")},
                             {f.App("newver.exe.uTMP"), f.App("demo")},
                             {other + "x.dat.uTMP", other + "x.dat"},
                             {other + "missing.dat.uTMP", other + "missing.dat"},
                             {f.App("tool.uTMP"), f.App("tool")}});
  WriteTextFile(f.State() + "staging", f.App("lib.so.uTMP") + "\n");
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0) << ReadWholeFile(f.Log());

  EXPECT_EQ(ReadWholeFile(f.App("demo")), ReadWholeFile(ProbeExe()));
  EXPECT_EQ(ModeOf(f.App("demo")), 0750u) << "the permission bits of the replaced file";
  EXPECT_FALSE(FileExists(f.App("newver.exe")));
  EXPECT_EQ(ModeOf(f.App("tool")), 0755u) << "a new program file can be run";
  EXPECT_EQ(ModeOf(f.App("lib.so")) & 0111, 0u) << "a new data file is not made executable";
  EXPECT_EQ(ReadWholeFile(f.App("lib.so")), "library");
  EXPECT_EQ(ReadWholeFile(f.App("doc/help.txt")), "help");
  EXPECT_EQ(ReadWholeFile(other + "x.dat"), "x");
  EXPECT_EQ(ReadWholeFile(other + "missing.dat"), "kept: its download is missing");
  EXPECT_EQ(ReadWholeFile(f.App("stale.dat")), "old data");
  EXPECT_FALSE(FileExists(f.QueueFile()));
  EXPECT_FALSE(FileExists(f.State() + "staging"));
  // Archive only: writable, and the attribute set as the application keeps it.
  EXPECT_EQ(DosAttrib(f.App("lib.so")), "0x20");
  EXPECT_EQ(DosAttrib(other + "x.dat"), "0x20");

  auto started = WaitForFile(f.App("demo.started"));
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\n" + OwnNice()) << "restarted at the priority the updater was started with";
}

TEST(UpdaterMoves, AMoveThatFailsLeavesBothFilesAndTheRestGoesOn) {
  UpdaterFolders f;
  CopyProgram(ProbeExe(), f.App("demo"));
  ::mkdir(f.App("data").c_str(), 0755);
  WriteTextFile(f.App("data/inside"), "old");
  WriteTextFile(f.App("data.uTMP"), "cannot replace a folder");
  WriteTextFile(f.App("z.dat.uTMP"), "z");
  WriteQueue(f.App("demo"), {{f.App("data.uTMP"), f.App("data")}, {f.App("z.dat.uTMP"), f.App("z.dat")}});
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0);
  EXPECT_EQ(ReadWholeFile(f.App("data/inside")), "old");
  EXPECT_EQ(ReadWholeFile(f.App("data.uTMP")), "cannot replace a folder");
  EXPECT_EQ(ReadWholeFile(f.App("z.dat")), "z");
  EXPECT_NE(ReadWholeFile(f.Log()).find("could not move"), std::string::npos);
  EXPECT_TRUE(WaitForFile(f.App("demo.started")));
}

TEST(UpdaterMoves, PermissionBitsComeOnlyFromTheUsersOwnFileNeverThroughALink) {
  // Whoever else can write the folder plants what two new files would
  // replace: a link to a set-user-id file open to all, and a file of their
  // own open to all. Neither may make the user's new file writable by
  // others or run as the user.
  UpdaterFolders f;
  CopyProgram(ProbeExe(), f.App("demo"));
  WriteTextFile(f.Root("theirs"), "theirs");
  ::chmod(f.Root("theirs").c_str(), 04777);
  ASSERT_EQ(::symlink(f.Root("theirs").c_str(), f.App("linked.dat").c_str()), 0);
  WriteTextFile(f.App("planted.dat"), "planted");
  const bool otherOwner = ::chown(f.App("planted.dat").c_str(), 65534, 65534) == 0;
  ::chmod(f.App("planted.dat").c_str(), 06777);
  WriteTextFile(f.App("linked.dat.uTMP"), "new");
  WriteTextFile(f.App("planted.dat.uTMP"), "new");
  WriteQueue(f.App("demo"), {{f.App("linked.dat.uTMP"), f.App("linked.dat")},
                             {f.App("planted.dat.uTMP"), f.App("planted.dat")}});
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0) << ReadWholeFile(f.Log());
  EXPECT_EQ(ReadWholeFile(f.App("linked.dat")), "new");
  EXPECT_EQ(ReadWholeFile(f.Root("theirs")), "theirs");
  EXPECT_EQ(ModeOf(f.App("linked.dat")) & 07022, 0u);
  if (otherOwner) {
    EXPECT_EQ(ModeOf(f.App("planted.dat")) & 07022, 0u);
  }
  EXPECT_TRUE(WaitForFile(f.App("demo.started")));
}

}  // namespace
}  // namespace kvtest

TEST(SplitArguments, BlanksSeparateQuotesGroup) {
  using kelvora::updater::SplitArguments;
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitArguments(""), V{});
  EXPECT_EQ(SplitArguments("  a  b "), (V{"a", "b"}));
  EXPECT_EQ(SplitArguments("-a \"b c\" d\"e f\""), (V{"-a", "b c", "de f"}));
  EXPECT_EQ(SplitArguments("\"\""), (V{""}));
}
