// The real updater program run as a child process in temporary folders: its
// command line, the queue and the sweep, the program file rule, the restart.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

std::string OwnNice() { return "nice=" + std::to_string(getpriority(PRIO_PROCESS, 0)) + "\n"; }

std::vector<std::string> Downloads(const std::string& Folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(Folder))
    if (e.path().string().ends_with(".uTMP")) out.push_back(e.path().string());
  return out;
}

TEST(UpdaterCommand, WithoutParametersOrAFullPathNothingChanges) {
  UpdaterFolders f;
  WriteTextFile(f.QueueFile(), f.App("x.dat") + "\r\n");
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
  ASSERT_EQ(RunUpdater(f, {f.Root("my"), "app+1/demo", "+/afterupgrade0"}), 0);
  started = WaitForFile(app + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\n" + OwnNice());
}

TEST(UpdaterMoves, QueueAndSweepPutEveryDownloadInPlace) {
  UpdaterFolders f;
  const std::string other = f.Root("other/");
  ::mkdir(other.c_str(), 0755);
  ::mkdir(f.App("doc").c_str(), 0755);
  WriteTextFile(f.App("demo"), "old build");
  ::chmod(f.App("demo").c_str(), 0750);
  // Downloads without a target, in the application's folder.
  CopyProgram(ProbeExe(), f.App("newver.exe.uTMP"), 0644);  // the first program file: the new build
  WriteTextFile(f.App("zzz.exe.uTMP"), "second program");
  WriteTextFile(f.App("SETUP.EXE.uTMP"), "not a program file: the comparison is exact");
  WriteTextFile(f.App("lib.so.uTMP"), "library");
  // Downloads with a target, listed in the queue. aaa.exe lies in the
  // application's folder and sorts first: the queue moves it, so the sweep
  // never takes it for the new build.
  WriteTextFile(f.App("aaa.exe.uTMP"), "listed program");
  WriteTextFile(f.App("doc/help.txt.uTMP"), "help");
  WriteTextFile(other + "x.dat.uTMP", "x");
  WriteTextFile(other + "missing.dat", "kept: its download is missing");
  WriteTextFile(other + "last.dat.uTMP", "last");
  WriteTextFile(other + "rel.dat.uTMP", "relative entries are not resolved against the working folder");
  WriteTextFile(f.QueueFile(), f.App("aaa.exe") + "\r\n" + f.App("doc/help.txt") + "\r\n\r\n" + other +
                                   "x.dat\r\n" + other + "missing.dat\r\nrel.dat\r\n" + other + "last.dat");

  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0) << ReadWholeFile(f.Log());

  EXPECT_EQ(ReadWholeFile(f.App("demo")), ReadWholeFile(ProbeExe()));
  EXPECT_EQ(ModeOf(f.App("demo")), 0750u) << "the permission bits of the replaced file";
  EXPECT_FALSE(FileExists(f.App("newver.exe")));
  EXPECT_EQ(ReadWholeFile(f.App("zzz.exe")), "second program");
  EXPECT_EQ(ReadWholeFile(f.App("SETUP.EXE")), "not a program file: the comparison is exact");
  EXPECT_EQ(ReadWholeFile(f.App("lib.so")), "library");
  EXPECT_EQ(ReadWholeFile(f.App("aaa.exe")), "listed program");
  EXPECT_EQ(ReadWholeFile(f.App("doc/help.txt")), "help");
  EXPECT_EQ(ReadWholeFile(other + "x.dat"), "x");
  EXPECT_EQ(ReadWholeFile(other + "missing.dat"), "kept: its download is missing");
  EXPECT_EQ(ReadWholeFile(other + "last.dat"), "last") << "a last line without CR LF counts";
  EXPECT_TRUE(FileExists(other + "rel.dat.uTMP"));
  EXPECT_FALSE(FileExists(f.QueueFile()));
  EXPECT_EQ(Downloads(f.App()), std::vector<std::string>{});
  // Archive only: writable, and the attribute set as the application keeps it.
  EXPECT_EQ(DosAttrib(f.App("lib.so")), "0x20");
  EXPECT_EQ(DosAttrib(other + "x.dat"), "0x20");

  auto started = WaitForFile(f.App("demo.started"));
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\n" + OwnNice()) << "restarted at the priority the updater was started with";
}

TEST(UpdaterMoves, TheApplicationsOwnDownloadKeepsOtherProgramsUnderTheirNames) {
  UpdaterFolders f;
  WriteTextFile(f.App("demo"), "old build");
  ::chmod(f.App("demo").c_str(), 0755);
  CopyProgram(ProbeExe(), f.App("demo.uTMP"), 0644);
  WriteTextFile(f.App("a.exe.uTMP"), "a program of its own");
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0);
  EXPECT_EQ(ReadWholeFile(f.App("demo")), ReadWholeFile(ProbeExe()));
  EXPECT_EQ(ReadWholeFile(f.App("a.exe")), "a program of its own");
  EXPECT_TRUE(WaitForFile(f.App("demo.started")));
}

TEST(UpdaterMoves, AMoveThatFailsLeavesBothFilesAndTheRestGoesOn) {
  UpdaterFolders f;
  CopyProgram(ProbeExe(), f.App("demo"));
  ::mkdir(f.App("data").c_str(), 0755);
  WriteTextFile(f.App("data/inside"), "old");
  WriteTextFile(f.App("data.uTMP"), "cannot replace a folder");
  WriteTextFile(f.App("z.dat.uTMP"), "z");
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}), 0);
  EXPECT_EQ(ReadWholeFile(f.App("data/inside")), "old");
  EXPECT_EQ(ReadWholeFile(f.App("data.uTMP")), "cannot replace a folder");
  EXPECT_EQ(ReadWholeFile(f.App("z.dat")), "z");
  EXPECT_NE(ReadWholeFile(f.Log()).find("could not move"), std::string::npos);
  EXPECT_TRUE(WaitForFile(f.App("demo.started")));
}

}  // namespace
}  // namespace kvtest
