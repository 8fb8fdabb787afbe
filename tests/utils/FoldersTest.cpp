// The running program, special folders and folder macros.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <gtest/gtest.h>

#include "UtilsTestSupport.h"
#include "kelvora/kvUtils.h"
#include "platform/Folders.h"

using namespace kelvora;
using kvtest::Exists;
using kvtest::ScopedEnv;
using kvtest::TempDir;
using kvtest::WriteFile;

namespace {

std::string Uid() { return std::to_string(::geteuid()); }

// A home of our own, XDG folders inside it, no runtime or TMPDIR folder, and
// the private temporary folder made under Base.
class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir((dir / "home").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((dir / "base").c_str(), 0755), 0);
    env.push_back(std::make_unique<ScopedEnv>("HOME", dir / "home"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir / "home/.config"));
    env.push_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", std::nullopt));
    env.push_back(std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", std::nullopt));
    env.push_back(std::make_unique<ScopedEnv>("TMPDIR", std::nullopt));
    platform::SetPrivateTempBase(dir / "base");
  }
  void TearDown() override { platform::SetPrivateTempBase(""); }

  std::string Home() const { return dir / "home"; }
  std::string OwnTemp() const { return dir / ("base/kelvora-" + Uid()); }
  void WriteUserDirs(const std::string& Text) {
    ::mkdir((dir / "home/.config").c_str(), 0700);
    WriteFile(dir / "home/.config/user-dirs.dirs", Text);
  }

  TempDir dir;
  std::vector<std::unique_ptr<ScopedEnv>> env;
};

}  // namespace

TEST(CurrentProgram, NamesTheRunningExecutable) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  ASSERT_GT(n, 0);
  const std::string exe(buf, static_cast<size_t>(n));
  EXPECT_EQ(CurrentExeName(), exe);
  EXPECT_EQ(CurrentFolder(), exe.substr(0, exe.rfind('/') + 1));
  EXPECT_EQ(CurrentFolder().back(), '/');
}

TEST(CurrentProgram, IsNotTheWorkingFolder) {
  const std::string before = CurrentFolder();
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(::chdir("/"), 0);
  EXPECT_EQ(CurrentFolder(), before);
  EXPECT_NE(CurrentFolder(), "/");
  ASSERT_EQ(::chdir(cwd), 0);
}

TEST(FolderMacros, TwelveMacrosInOrderAndAnEmptySlot) {
  ASSERT_EQ(FolderMacros.size(), 13u);
  const char* expected[] = {"%current%", "%desktop%", "%mydocuments%", "%mypictures%", "%appdata%", "%programfiles%",
                            "%windows%", "%system%",  "%temp%",        "%help%",       "%media%",   "%cursors%"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(FolderMacros[static_cast<size_t>(i)], expected[i]);
  EXPECT_EQ(FolderMacros[12], "");
}

TEST_F(FoldersTest, EveryRowEndsWithASlashAndRowTwelveIsEmpty) {
  for (int i = 0; i <= 11; ++i) {
    const std::string f = GetSpecialFolder(i);
    ASSERT_FALSE(f.empty()) << i;
    EXPECT_EQ(f.back(), '/') << i;
    EXPECT_EQ(f[0], '/') << i;
  }
  EXPECT_EQ(GetSpecialFolder(12), "");
  EXPECT_EQ(GetSpecialFolder(13), CurrentFolder());
  EXPECT_EQ(GetSpecialFolder(1000), CurrentFolder());
  EXPECT_EQ(GetSpecialFolder(-1), CurrentFolder());
}

TEST_F(FoldersTest, SystemRowsMapToThisSystemsFolders) {
  EXPECT_EQ(GetSpecialFolder(0), CurrentFolder());
  EXPECT_EQ(GetSpecialFolder(5), "/opt/");
  EXPECT_EQ(GetSpecialFolder(6), "/usr/");
  EXPECT_EQ(GetSpecialFolder(7), "/usr/lib/");
  EXPECT_EQ(GetSpecialFolder(9), "/usr/share/help/");
  EXPECT_EQ(GetSpecialFolder(10), "/usr/share/sounds/");
  EXPECT_EQ(GetSpecialFolder(11), "/usr/share/icons/");
  EXPECT_EQ(GetWindowsFolder(), "/usr/");
  EXPECT_EQ(GetSystemFolder(), "/usr/lib/");
}

TEST_F(FoldersTest, UserFoldersComeFromUserDirs) {
  WriteUserDirs(
      "# written by xdg-user-dirs-update\n"
      "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
      "XDG_DOCUMENTS_DIR=\"/data/docs/\"\n"
      "XDG_PICTURES_DIR=\"$HOME/My\\\"Pics\"\n"
      "XDG_MUSIC_DIR=\"$HOME/Musik\"\n");
  EXPECT_EQ(GetSpecialFolder(1), Home() + "/Schreibtisch/");
  EXPECT_EQ(GetSpecialFolder(2), "/data/docs/");
  EXPECT_EQ(GetSpecialFolder(3), Home() + "/My\"Pics/");
}

TEST_F(FoldersTest, UserFoldersDefaultWhenNotSet) {
  WriteUserDirs("XDG_DESKTOP_DIR=\"relative/not/allowed\"\n");
  EXPECT_EQ(GetSpecialFolder(1), Home() + "/Desktop/");
  EXPECT_EQ(GetSpecialFolder(2), Home() + "/Documents/");
  EXPECT_EQ(GetSpecialFolder(3), Home() + "/Pictures/");
}

TEST_F(FoldersTest, UserFolderMayBeTheHomeItself) {
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME\"\nXDG_DOCUMENTS_DIR=\"$HOME/\"\n");
  EXPECT_EQ(GetSpecialFolder(1), Home() + "/");
  EXPECT_EQ(GetSpecialFolder(2), Home() + "/");
}

TEST_F(FoldersTest, AppDataIsTheXdgDataHome) {
  EXPECT_EQ(GetSpecialFolder(4), Home() + "/.local/share/");
  ScopedEnv data("XDG_DATA_HOME", dir / "data");
  EXPECT_EQ(GetSpecialFolder(4), dir / "data/");
  ScopedEnv relative("XDG_DATA_HOME", "relative");  // not absolute: ignored
  EXPECT_EQ(GetSpecialFolder(4), Home() + "/.local/share/");
}

TEST_F(FoldersTest, TempIsAPrivateFolderMadeWhenMissing) {
  EXPECT_FALSE(Exists(OwnTemp()));
  EXPECT_EQ(GetTempFolder(), OwnTemp() + "/");
  struct stat st {};
  ASSERT_EQ(::lstat(OwnTemp().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(GetSpecialFolder(8), OwnTemp() + "/");
  EXPECT_EQ(GetTempFolder(), OwnTemp() + "/");  // and again, existing
}

TEST_F(FoldersTest, TempPrefersThePrivateRuntimeFolder) {
  ASSERT_EQ(::mkdir((dir / "run").c_str(), 0700), 0);
  ScopedEnv run("XDG_RUNTIME_DIR", dir / "run");
  EXPECT_EQ(GetTempFolder(), dir / "run/");
}

TEST_F(FoldersTest, TempRefusesSharedOrLinkedCandidates) {
  ASSERT_EQ(::mkdir((dir / "shared").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  ASSERT_EQ(::mkdir((dir / "private").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((dir / "private").c_str(), (dir / "link").c_str()), 0);
  ScopedEnv run("XDG_RUNTIME_DIR", dir / "link");
  ScopedEnv tmp("TMPDIR", dir / "shared");
  EXPECT_EQ(GetTempFolder(), OwnTemp() + "/");
  ScopedEnv tmp2("TMPDIR", dir / "private/");
  EXPECT_EQ(GetTempFolder(), dir / "private/");
}

TEST_F(FoldersTest, TempFallsBackToTheProgramsFolder) {
  // The folder to be made exists as a symbolic link: refused, and nothing
  // else qualifies.
  ASSERT_EQ(::mkdir((dir / "elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), OwnTemp().c_str()), 0);
  EXPECT_EQ(GetTempFolder(), CurrentFolder());
  EXPECT_EQ(ExpandFolderMacros("%temp%AppUpdate.exe", false), CurrentFolder() + "AppUpdate.exe");
}

TEST_F(FoldersTest, TempRefusesAFolderOpenToOthers) {
  ASSERT_EQ(::mkdir(OwnTemp().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(OwnTemp().c_str(), 0777), 0);
  EXPECT_EQ(GetTempFolder(), CurrentFolder());
  EXPECT_EQ(::chmod(OwnTemp().c_str(), 0500), 0);  // closed to others, owner bits missing: repaired
  EXPECT_EQ(GetTempFolder(), OwnTemp() + "/");
}

TEST_F(FoldersTest, TempRefusesAFolderOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
  ASSERT_EQ(::mkdir(OwnTemp().c_str(), 0700), 0);
  ASSERT_EQ(::chown(OwnTemp().c_str(), 65534, 65534), 0);
  EXPECT_EQ(GetTempFolder(), CurrentFolder());
}

TEST_F(FoldersTest, ExpandIgnoresCaseAndReplacesEveryOccurrence) {
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
  const std::string desk = Home() + "/Desk/";
  EXPECT_EQ(ExpandFolderMacros("%DeskTop%readme.txt", false), desk + "readme.txt");
  EXPECT_EQ(ExpandFolderMacros("%desktop%readme.txt", false), desk + "readme.txt");
  EXPECT_EQ(ExpandFolderMacros("%DESKTOP%a|%desktop%b|%Desktop%", false), desk + "a|" + desk + "b|" + desk);
  EXPECT_EQ(ExpandFolderMacros("%current%x;%TEMP%y;%current%z", false),
            CurrentFolder() + "x;" + OwnTemp() + "/y;" + CurrentFolder() + "z");
}

TEST_F(FoldersTest, ExpandKeepsTheTextAfterAMacro) {
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desk\"\n");
  EXPECT_EQ(ExpandFolderMacros("%desktop%/readme.txt", false), Home() + "/Desk//readme.txt");
  EXPECT_EQ(ExpandFolderMacros("%programfiles%App/%unknown%/x", false), "/opt/App/%unknown%/x");
  EXPECT_EQ(ExpandFolderMacros("%system%%windows%%help%%media%%cursors%", false),
            "/usr/lib//usr//usr/share/help//usr/share/sounds//usr/share/icons/");
  EXPECT_EQ(ExpandFolderMacros("%mypictures%%mydocuments%%appdata%", false),
            Home() + "/Pictures/" + Home() + "/Documents/" + Home() + "/.local/share/");
}

TEST_F(FoldersTest, ExpandLooksAFolderUpOnlyWhenItsMacroOccurs) {
  // Looking the temporary folder up makes it: it must not appear for other
  // macros or plain paths.
  ExpandFolderMacros("%desktop%a.txt", true);
  ExpandFolderMacros("plain/path.txt", true);
  ExpandFolderMacros("%tem%p%", true);
  EXPECT_FALSE(Exists(OwnTemp()));
  ExpandFolderMacros("%Temp%a.txt", true);
  EXPECT_TRUE(Exists(OwnTemp()));
}

TEST_F(FoldersTest, ExpandMakesRelativePathsAbsolute) {
  EXPECT_EQ(ExpandFolderMacros("data/app.ini", true), CurrentFolder() + "data/app.ini");
  EXPECT_EQ(ExpandFolderMacros("data/app.ini", false), "data/app.ini");
  EXPECT_EQ(ExpandFolderMacros("/etc/app.ini", true), "/etc/app.ini");
  EXPECT_EQ(ExpandFolderMacros("ab", true), "ab");          // too short
  EXPECT_EQ(ExpandFolderMacros("abc", true), CurrentFolder() + "abc");
  EXPECT_EQ(ExpandFolderMacros("", true), "");
  // No colon rule here: a drive-letter path is relative on this system, and
  // so is a network path written with backslashes.
  EXPECT_EQ(ExpandFolderMacros("C:\\x.ini", true), CurrentFolder() + "C:\\x.ini");
  EXPECT_EQ(ExpandFolderMacros("\\\\server\\share\\f.txt", true), CurrentFolder() + "\\\\server\\share\\f.txt");
  // A macro that gives an absolute folder is not prefixed.
  EXPECT_EQ(ExpandFolderMacros("%programfiles%x", true), "/opt/x");
  EXPECT_EQ(ExpandFolderMacros("%current%x", true), CurrentFolder() + "x");
}

TEST(PrivateFolder, Check) {
  TempDir dir;
  EXPECT_FALSE(platform::IsPrivateFolder(dir / "missing"));
  ASSERT_EQ(::mkdir((dir / "ok").c_str(), 0700), 0);
  EXPECT_TRUE(platform::IsPrivateFolder(dir / "ok"));
  ASSERT_EQ(::symlink((dir / "ok").c_str(), (dir / "link").c_str()), 0);
  EXPECT_FALSE(platform::IsPrivateFolder(dir / "link"));
  ASSERT_EQ(::chmod((dir / "ok").c_str(), 0750), 0);
  EXPECT_FALSE(platform::IsPrivateFolder(dir / "ok"));
  WriteFile(dir / "file", "x");
  ASSERT_EQ(::chmod((dir / "file").c_str(), 0700), 0);
  EXPECT_FALSE(platform::IsPrivateFolder(dir / "file"));
}
