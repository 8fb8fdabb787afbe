// The real updater program run as a child process in temporary folders: its
// command line, the queue and the sweep, the program file rule, the restart.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "updater/Command.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

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
  // The engine's form: the path whole, then one "+" argument whose restart
  // parameter reaches the program as one argument, blanks and quotes
  // included; any digit but "1" means self-upgrade.
  ASSERT_EQ(RunUpdater(f, {app, "+\"/after upgrade\" /z2"}), 0) << ReadWholeFile(f.Log());
  auto started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "\"/after upgrade\" /z\n" + OwnNice());
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
  // An empty restart parameter and empty own arguments stay, one each.
  ASSERT_EQ(RunUpdater(f, {app, "+0", "--", "--yes", "", "two words", "\"q\"", "--", "+1"}), 0);
  started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "\n--yes\n\ntwo words\n\"q\"\n--\n+1\n" + OwnNice());
}

// Recovery mode, as a program hands it over when it cannot put its own files
// back while it runs: the install an updater left halfway is undone, and the
// program starts as an ordinary start with its own arguments.
TEST(UpdaterCommand, RecoveryModeUndoesTheInstallThenStartsTheProgramPlainly) {
  UpdaterFolders f;
  const std::string app = f.App("demo");
  CopyProgram(ProbeExe(), app);
  const std::string oldBuild = ReadWholeFile(app);
  WriteTextFile(f.App("x.dat"), "old");
  WriteTextFile(f.App("x.dat.uTMP"), "new");
  WriteTextFile(app + ".uTMP", oldBuild + "\nnew build\n");
  WriteQueue(app, {{f.App("x.dat.uTMP"), f.App("x.dat")}, {app + ".uTMP", app}});
  ASSERT_EQ(RunUpdater(f, {app, "+/afterupgrade0"}, {{"KELVORA_UPDATER_KILL_AFTER", "2"}}), -1);
  ASSERT_NE(ReadWholeFile(app), oldBuild);

  ASSERT_EQ(RunUpdater(f, {"--recover", app, "+", "--", "two words"}), 0) << ReadWholeFile(f.Log());
  const auto started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "two words\n" + OwnNice());
  EXPECT_EQ(ReadWholeFile(app), oldBuild);
  EXPECT_EQ(ReadWholeFile(f.App("x.dat")), "old");
  for (const char* left : {"journal", "queue"}) EXPECT_FALSE(FileExists(f.State() + left)) << left;
  EXPECT_FALSE(FileExists(app + ".uOLD"));
  EXPECT_NE(ReadWholeFile(f.State() + "failed").find("interrupted"), std::string::npos);
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

TEST(UpdaterMoves, AMoveThatFailsUndoesTheWholeInstallWhereverItFails) {
  // Moves in order: a.dat (replaced), b.dat (new), the program (last).
  for (const std::string how : {"first", "middle", "program", "folder", "immutable"}) {
    SCOPED_TRACE(how);
    UpdaterFolders f;
    const std::string program = f.App("demo"), oldProgram = ReadWholeFile(ProbeExe());
    CopyProgram(ProbeExe(), program);
    WriteTextFile(f.App("a.dat"), "old a");
    CopyProgram(ProbeExe(), program + ".uTMP", 0644);
    { std::ofstream(program + ".uTMP", std::ios::app) << "\nnew build\n"; }
    WriteTextFile(f.App("a.dat.uTMP"), "new a");
    WriteTextFile(f.App("b.dat.uTMP"), "new b");
    WriteQueue(program, {{f.App("a.dat.uTMP"), f.App("a.dat")},
                         {f.App("b.dat.uTMP"), f.App("b.dat")},
                         {program + ".uTMP", program}});
    EnvChanges env;
    std::string failing = f.App("a.dat"), cause = "Input/output error";
    if (how == "first") env["KELVORA_UPDATER_FAIL_AT"] = "1";
    if (how == "middle") env["KELVORA_UPDATER_FAIL_AT"] = "2", failing = f.App("b.dat");
    if (how == "program") env["KELVORA_UPDATER_FAIL_AT"] = "3", failing = program;
    if (how == "folder") {
      // A real fault in the middle: the new file's name is a folder now.
      ::mkdir(f.App("b.dat").c_str(), 0755);
      WriteTextFile(f.App("b.dat/inside"), "kept");
      failing = f.App("b.dat"), cause = "Is a directory";
    }
    if (how == "immutable") {
      if (std::system(("chattr +i '" + f.App("a.dat") + "' 2>/dev/null").c_str()) != 0) {
        std::printf("chattr +i is not supported here: case left out\n");
        continue;
      }
      cause = "Operation not permitted";
    }
    EXPECT_EQ(RunUpdater(f, {program, "+/afterupgrade0"}, env), 3) << ReadWholeFile(f.Log());
    if (how == "immutable") std::system(("chattr -i '" + f.App("a.dat") + "'").c_str());

    EXPECT_EQ(ReadWholeFile(f.App("a.dat")), "old a");
    EXPECT_TRUE(how == "folder" ? ReadWholeFile(f.App("b.dat/inside")) == "kept" : !FileExists(f.App("b.dat")));
    EXPECT_TRUE(ReadWholeFile(program) == oldProgram) << "the old build";
    EXPECT_EQ(ModeOf(program), 0755u);
    for (const std::string& left : {f.App("a.dat.uTMP"), f.App("b.dat.uTMP"), program + ".uTMP", f.App("a.dat.uOLD"),
                                    program + ".uOLD", f.QueueFile(), f.State() + "journal"})
      EXPECT_FALSE(FileExists(left)) << left;
    // Why, for the next start; the old build started as an ordinary start.
    EXPECT_EQ(ReadWholeFile(f.State() + "failed"), "kelvora-failed 1\n" + failing + "\n" + cause + "\n");
    auto started = WaitForFile(program + ".started");
    ASSERT_TRUE(started);
    EXPECT_EQ(*started, OwnNice()) << "no restart parameter";
  }
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

TEST(UpdaterCommandLine, FormatAndParseRoundTripEveryArgumentExactly) {
  using namespace kelvora::updater;
  const std::vector<std::string> awkward{"", " ", "two words", "\"q\"", "+", "+x1", "--", "-- x", "a\\", "\\\""};
  for (const std::string& param : awkward) {
    for (bool recovery : {false, true}) {
      TCommand in;
      in.AppPath = "/opt/my app+1/demo";
      in.Restart = !recovery;
      in.RestartParam = recovery ? "" : param;
      in.SetupMode = param.size() % 2 == 1;
      in.Recovery = recovery;
      in.Arguments = awkward;
      const TCommand out = ParseCommand(FormatCommand(in));
      EXPECT_EQ(out.AppPath, in.AppPath);
      EXPECT_EQ(out.Restart, in.Restart) << "[" << param << "]";
      EXPECT_EQ(out.RestartParam, in.RestartParam);
      EXPECT_EQ(out.SetupMode, in.Restart && in.SetupMode);
      EXPECT_EQ(out.Recovery, recovery);
      EXPECT_EQ(out.Arguments, in.Arguments);
    }
  }
  // Without own arguments there is no marker; the legacy split form joins.
  EXPECT_EQ(FormatCommand({"/a/demo", true, "/afterupgrade", false, {}, false}),
            (std::vector<std::string>{"/a/demo", "+/afterupgrade0"}));
  EXPECT_EQ(ParseCommand({"/a/my", "app", "+/after", "upgrade1"}).RestartParam, "/after upgrade");
}
