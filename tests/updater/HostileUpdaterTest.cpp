// The real updater against another local user: a download others could have
// written to after it was checked, a link planted at the state folder, and
// the permission bits a settled file gets under a group-sharing umask.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

TEST(UpdaterHostile, OnlyTheUsersPrivateDownloadsAreInstalledAndSettledAsTheUmaskSays) {
  UpdaterFolders f;
  ::chmod(f.App().c_str(), 02775);  // a folder the group shares
  CopyProgram(ProbeExe(), f.App("demo"), 0750);
  WriteTextFile(f.App("data.dat"), "old data");
  const mode_t saved = ::umask(002);
  // Rewritable by the group after its check: never installed.
  WriteTextFile(f.App("data.dat.uTMP"), "the group's script");
  WriteQueue(f.App("demo"), {{f.App("data.dat.uTMP"), f.App("data.dat")}});
  RunUpdater(f, {f.App("demo"), "+/afterupgrade0"});
  EXPECT_EQ(ReadWholeFile(f.App("data.dat")), "old data");
  EXPECT_NE(ReadWholeFile(f.Log()).find("data.dat.uTMP"), std::string::npos) << ReadWholeFile(f.Log());

  // The engine's private downloads: settled with the bits of the file they
  // replace, or as the user's umask makes new files.
  CopyProgram(ProbeExe(), f.App("demo.uTMP"), 0600);
  CopyProgram(ProbeExe(), f.App("tool.uTMP"), 0600);
  WriteTextFile(f.App("new.dat.uTMP"), "new");
  ::chmod(f.App("new.dat.uTMP").c_str(), 0600);
  WriteQueue(f.App("demo"), {{f.App("new.dat.uTMP"), f.App("new.dat")},
                             {f.App("tool.uTMP"), f.App("tool")},
                             {f.App("demo.uTMP"), f.App("demo")}});
  const int rc = RunUpdater(f, {f.App("demo"), "+/afterupgrade0"});
  ::umask(saved);
  ASSERT_EQ(rc, 0) << ReadWholeFile(f.Log());
  EXPECT_EQ(ModeOf(f.App("demo")), 0750u) << "the replaced program keeps its bits";
  EXPECT_EQ(ModeOf(f.App("new.dat")), 0664u) << "a new file as the user's umask makes it";
  EXPECT_EQ(ModeOf(f.App("tool")), 0775u) << "a new program file can be run";
  EXPECT_TRUE(WaitForFile(f.App("demo.started")));
}

TEST(UpdaterHostile, ALinkAtTheStateFolderIsNeverFollowed) {
  UpdaterFolders f;
  CopyProgram(ProbeExe(), f.App("demo"));
  // Somebody's folder, with a committed queue and a record of files to remove.
  const std::string decoy = f.Root("decoy/");
  ::mkdir(decoy.c_str(), 0700);
  WriteTextFile(f.App("x.dat.uTMP"), "planted");
  ::chmod(f.App("x.dat.uTMP").c_str(), 0600);
  WriteTextFile(f.App("y.dat.uTMP"), "somebody's");
  WriteTextFile(decoy + "queue", "kelvora-queue 1\n" + f.App("x.dat.uTMP") + "\t" + f.App("x.dat") + "\nend\n");
  WriteTextFile(decoy + "staging", f.App("y.dat.uTMP") + "\n");
  std::string state = f.State();
  state.pop_back();
  ASSERT_EQ(::symlink(decoy.c_str(), state.c_str()), 0);
  RunUpdater(f, {f.App("demo"), "+/afterupgrade0"});
  EXPECT_FALSE(FileExists(f.App("x.dat")));
  EXPECT_TRUE(FileExists(decoy + "queue"));
  EXPECT_TRUE(FileExists(decoy + "staging"));
  EXPECT_TRUE(FileExists(f.App("y.dat.uTMP")));
  EXPECT_FALSE(FileExists(decoy + "lock"));
}

}  // namespace
}  // namespace kvtest
