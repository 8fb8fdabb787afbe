// The upgrade as a transaction, with real processes: the test application
// (E2EApp), the real updater, nginx and the fault server. Nothing of an
// unfinished run, a second instance or an interrupted install ever reaches
// the installed program; the next start completes what was committed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/ScratchMount.h"
#include "support/FaultServer.h"
#include "support/Nginx.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

const char* const kAppName = "kv_e2e_app";

struct Upgrade {
  UpdaterFolders f;
  std::string app = f.App(kAppName);
  std::string oldBuild, newBuild;
  Nginx server;
  Upgrade() {
    CopyProgram(KV_E2E_APP_EXE, app);
    oldBuild = ReadWholeFile(app);
    newBuild = oldBuild + "\nnew build\n";
    server.AddTextFile(kAppName, newBuild);
    server.AddTextFile("data.txt", "new data");
    server.AddTextFile("tool", ReadWholeFile(ProbeExe()));
    WriteTextFile(f.App("data.txt"), "old data");
  }
  // The info file: the program's new build (no target), a data file and a
  // new program file.
  std::string Info() const {
    return "#date=12/31/2099\n#url1=" + server.Url(std::string("/") + kAppName) + "\n#url2=" +
           server.Url("/data.txt") + "=%current%data.txt\n#url3=" + server.Url("/tool") + "=" + f.App("bin/tool") + "\n";
  }
  EnvChanges Env(const std::string& InfoName, EnvChanges Extra = {}) const {
    auto env = f.Env();
    env["LANG"] = "C";
    env["LANGUAGE"] = std::nullopt;
    env["LC_ALL"] = std::nullopt;
    env["KV_E2E_MARKER"] = f.Root("marker");
    env["KV_E2E_EVENTS"] = f.Root("events");
    env["KV_E2E_INFO_URL"] = server.Url("/" + InfoName);
    env["KELVORA_UPDATER_WAIT_MS"] = "60000";
    for (auto& [k, v] : Extra) env[k] = v;
    return env;
  }
  int Run(const EnvChanges& Env, const std::string& Log = "app.log") {
    Child c({app}, Env, f.Root(Log));
    return c.Wait(60000);
  }
  std::string Events() const { return FileExists(f.Root("events")) ? ReadWholeFile(f.Root("events")) : ""; }
  // Waits (bounded) until no process holds the program's upgrade lock.
  bool LockFree() const {
    const int fd = ::open((f.State(kAppName) + "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    bool free = false;
    for (int i = 0; i < 3000 && !free; ++i) {
      free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
      if (!free) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
    return free;
  }
  bool NoStagedFiles() const {
    for (const auto& e : std::filesystem::recursive_directory_iterator(f.App())) {
      const std::string p = e.path().string();
      if (p.ends_with(".uTMP") || p.ends_with(".uPART")) return false;
    }
    return true;
  }
};

bool Contains(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

TEST(UpgradeTransaction, ASecondInstanceAndAStalePartialNeverReachTheProgram) {
  Upgrade u;
  FaultServer faults;
  // The first instance's download of the new build stalls halfway: it holds
  // the upgrade.
  u.server.AddTextFile("stall.txt", "#date=12/31/2099\n#url1=" + faults.Url("/stall") + "=" +
                                        u.app + "\n");
  Child first({u.app}, u.Env("stall.txt"), u.f.Root("first.log"));
  ASSERT_TRUE(WaitForFile(u.app + ".uPART")) << ReadWholeFile(u.f.Root("first.log")) << u.Events();

  // A second instance is told, downloads nothing and touches nothing.
  EXPECT_EQ(u.Run(u.Env("stall.txt", {{"KV_E2E_EVENTS", u.f.Root("second.events")}}), "second.log"), 5);
  const std::string second = ReadWholeFile(u.f.Root("second.events"));
  EXPECT_TRUE(Contains(second, "message:Another instance of this program is being upgraded")) << second;
  EXPECT_FALSE(Contains(second, "file:"));
  EXPECT_TRUE(FileExists(u.app + ".uPART"));

  // The first instance dies mid-download; a later, unrelated upgrade lists
  // other files. The partial is removed, never installed.
  ::kill(first.Pid(), SIGKILL);
  first.Wait(20000);
  u.server.AddTextFile("other.txt", "#date=12/31/2099\n#url1=" + u.server.Url("/data.txt") +
                                        "=%current%data.txt\n#url2=" + u.server.Url("/tool") + "=" +
                                        u.f.App("bin/tool") + "\n");
  ASSERT_EQ(u.Run(u.Env("other.txt"), "third.log"), 0) << ReadWholeFile(u.f.Root("third.log"));
  ASSERT_TRUE(WaitForFile(u.f.Root("marker"), 60000)) << ReadWholeFile(u.f.Root("updater.log"));
  EXPECT_EQ(ReadWholeFile(u.app), u.oldBuild) << "the stale partial was not installed";
  EXPECT_EQ(ReadWholeFile(u.f.App("data.txt")), "new data");
  EXPECT_EQ(ReadWholeFile(u.f.App("bin/tool")), ReadWholeFile(ProbeExe()));
  EXPECT_EQ(ModeOf(u.f.App("bin/tool")) & 0111, 0111u) << "a new program file can be run";
  EXPECT_TRUE(u.LockFree());
  EXPECT_TRUE(u.NoStagedFiles());
}

size_t Count(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
  return n;
}

// The whole old set is in place, nothing of the run is left, and the user
// was told once, by the old build, with Cause in the reason.
// The login entries of the test's session (its XDG_CONFIG_HOME).
std::vector<std::string> LoginEntries(const Upgrade& U) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(U.f.Root("config/autostart"), ec))
    names.push_back(e.path().string());
  return names;
}

void ExpectUndone(const Upgrade& U, const std::string& Cause) {
  EXPECT_EQ(ReadWholeFile(U.app), U.oldBuild) << "the program is the old build";
  EXPECT_EQ(ModeOf(U.app), 0755u);
  EXPECT_EQ(ReadWholeFile(U.f.App("data.txt")), "old data");
  EXPECT_FALSE(FileExists(U.f.App("bin/tool"))) << "a file new to the release is removed";
  EXPECT_TRUE(U.NoStagedFiles());
  for (const char* left : {"journal", "queue", "confirmed", "failed"})
    EXPECT_FALSE(FileExists(U.f.State(kAppName) + left)) << left;
  EXPECT_FALSE(FileExists(U.app + ".uOLD"));
  EXPECT_FALSE(FileExists(U.f.App("data.txt.uOLD")));
  EXPECT_TRUE(LoginEntries(U).empty()) << "a settled install leaves nothing for the next login";
  EXPECT_FALSE(FileExists(U.f.State(kAppName) + "undo-at-login"));
  const std::string events = U.Events();
  EXPECT_EQ(Count(events, "message:The upgrade could not be installed; the previous version has been kept."), 1u)
      << events;
  EXPECT_EQ(Count(events, "failed:"), 1u) << events;
  EXPECT_TRUE(Contains(events, Cause)) << events;
  EXPECT_FALSE(Contains(events, "has now been installed")) << events;
  // The last start is the old build, told of the failure.
  const size_t last = events.rfind("start:");
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(events.substr(last, events.find('\n', last) - last), "start:old") << events;
}

// Waits (bounded) until Events() holds Part.
bool EventsWith(const Upgrade& U, const std::string& Part) {
  for (int i = 0; i < 3000; ++i) {
    if (Contains(U.Events(), Part)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(UpgradeTransaction, ANewReleaseThatDoesNotConfirmItsStartIsUndone) {
  // Crashes before Loaded, ends with status 0 before it, never confirms, or
  // cannot even run: a program cut short by the server, without a hash.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"crash", "ended by signal 6 before it confirmed its start"},
      {"exit", "ended with status 0 and nothing confirmed its start within 2 s"},
      {"hang", "did not confirm its start within 2 s"},
      {"truncated", "the new version"}};
  for (const auto& [how, cause] : cases) {
    SCOPED_TRACE(how);
    Upgrade u;
    if (how == "truncated") u.server.AddTextFile(kAppName, u.newBuild.substr(0, 64 * 1024));
    u.server.AddTextFile("info.txt", u.Info());
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_AFTER", how}, {"KV_E2E_CONFIRM_S", "2"}})), 0)
        << ReadWholeFile(u.f.Root("app.log"));
    ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events() << ReadWholeFile(u.f.Root("app.log"));
    ASSERT_TRUE(u.LockFree());
    ExpectUndone(u, cause);
    EXPECT_FALSE(FileExists(u.f.Root("marker")) && how != "hang") << "only a hanging release got to OnAfterRestart";
  }
}

TEST(UpgradeTransaction, AnUpdaterKilledDuringTheInstallIsUndoneAtTheNextStart) {
  // Three moves: the data file, the new tool, the program itself (last);
  // "backup": between the old file's second name and the first move.
  for (const char* killAfter : {"0", "1", "2", "3", "backup"}) {
    SCOPED_TRACE(std::string("killed after ") + killAfter + " moves");
    Upgrade u;
    u.server.AddTextFile("info.txt", u.Info());
    const bool inBackup = std::string(killAfter) == "backup";
    ASSERT_EQ(u.Run(u.Env("info.txt", {{inBackup ? "KELVORA_UPDATER_KILL_IN" : "KELVORA_UPDATER_KILL_AFTER", killAfter}})), 0)
        << ReadWholeFile(u.f.Root("app.log"));
    ASSERT_TRUE(u.LockFree()) << "the updater ended";
    EXPECT_FALSE(FileExists(u.f.Root("marker"))) << "nothing restarted";
    // Every file is complete: old or new.
    const std::string program = ReadWholeFile(u.app), data = ReadWholeFile(u.f.App("data.txt"));
    EXPECT_TRUE(program == u.oldBuild || program == u.newBuild);
    EXPECT_TRUE(data == "old data" || data == "new data");

    // The next start (the new build, once the program was replaced) finds
    // an install nobody confirmed and undoes it; the old build runs.
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_CHECK", "0"}})), 0);
    ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events();
    ASSERT_TRUE(u.LockFree());
    ExpectUndone(u, "the install was interrupted");
  }
}

TEST(UpgradeTransaction, AnUpdaterKilledWhileWaitingOrUndoingEndsTheRightWay) {
  {
    SCOPED_TRACE("killed while waiting; the new release confirms by itself");
    Upgrade u;
    u.server.AddTextFile("info.txt", u.Info());
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KELVORA_UPDATER_KILL_IN", "wait"}})), 0);
    ASSERT_TRUE(WaitForFile(u.f.Root("marker"), 30000));
    ASSERT_TRUE(u.LockFree());
    EXPECT_EQ(ReadWholeFile(u.app), u.newBuild);
    EXPECT_EQ(ReadWholeFile(u.f.App("data.txt")), "new data");
    for (const char* left : {"journal", "queue", "confirmed", "failed", "undo-at-login"})
      EXPECT_FALSE(FileExists(u.f.State(kAppName) + left)) << left;
    EXPECT_FALSE(FileExists(u.app + ".uOLD"));
    EXPECT_TRUE(LoginEntries(u).empty());
    EXPECT_FALSE(Contains(u.Events(), "failed:"));
  }
  {
    SCOPED_TRACE("killed while waiting; the new release ends unconfirmed");
    Upgrade u;
    u.server.AddTextFile("info.txt", u.Info());
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KELVORA_UPDATER_KILL_IN", "wait"}, {"KV_E2E_AFTER", "exit"}})), 0);
    // The new build the updater started just before it was killed has
    // started and ended (its start takes the lock): the next start is alone.
    ASSERT_TRUE(EventsWith(u, "start:new /afterupgrade")) << u.Events();
    for (int i = 0; i < 3000; ++i) {  // a running program cannot be opened for writing
      const int fd = ::open(u.app.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd >= 0) {
        ::close(fd);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(u.LockFree());
    EXPECT_EQ(ReadWholeFile(u.app), u.newBuild) << "nobody undid it yet";
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_CHECK", "0"}})), 0);
    ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events();
    ASSERT_TRUE(u.LockFree());
    ExpectUndone(u, "the install was interrupted");
    EXPECT_TRUE(Contains(u.Events(), "start:new\nstart:old\n")) << "the undone build hands over at once";
  }
  {
    SCOPED_TRACE("killed while undoing");
    Upgrade u;
    u.server.AddTextFile("info.txt", u.Info());
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KELVORA_UPDATER_KILL_IN", "rollback"}, {"KV_E2E_AFTER", "crash"}})), 0);
    ASSERT_TRUE(u.LockFree());
    EXPECT_FALSE(Contains(u.Events(), "failed:"));
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_CHECK", "0"}})), 0);
    ASSERT_TRUE(u.LockFree());
    ExpectUndone(u, "ended by signal 6 before it confirmed its start");
  }
}

TEST(UpgradeTransaction, ANewBuildThatDiesBeforeItCanUndoItselfIsUndoneAtTheNextLogin) {
  // The updater is ended during its wait (a logout) and the new build aborts
  // at every start before its component exists: no start of the program can
  // undo the install, the login entry the updater left does.
  Upgrade u;
  u.server.AddTextFile("info.txt", u.Info());
  ASSERT_EQ(u.Run(u.Env("info.txt", {{"KELVORA_UPDATER_KILL_IN", "wait"}, {"KV_E2E_AFTER", "crash"}})), 0);
  ASSERT_TRUE(u.LockFree());
  ASSERT_EQ(ReadWholeFile(u.app), u.newBuild) << "nobody undid it yet";
  ASSERT_EQ(LoginEntries(u).size(), 1u);
  EXPECT_TRUE(FileExists(u.f.State(kAppName) + "undo-at-login"));

  // The next login: the session's autostart runner (dex) starts the entry
  // and returns at once (it waits for nothing in autostart mode); the copy
  // removes the entry once the install is settled, holding the lock.
  {
    Child login({"/usr/bin/dex", "--autostart", "--search-paths", u.f.Root("config/autostart")},
                u.Env("info.txt"), u.f.Root("login.log"));
    ASSERT_EQ(login.Wait(60000), 0) << ReadWholeFile(u.f.Root("login.log"));
  }
  for (int i = 0; i < 3000 && !LoginEntries(u).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(u.LockFree());
  EXPECT_EQ(ReadWholeFile(u.app), u.oldBuild) << "undone by the login, before any start";
  EXPECT_TRUE(LoginEntries(u).empty());
  EXPECT_FALSE(FileExists(u.f.Root("marker"))) << "the login starts no program";
  // The person starts the program: the previous build, told once why.
  ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_CHECK", "0"}})), 0);
  ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events() << ReadWholeFile(u.f.Root("login.log"));
  ASSERT_TRUE(u.LockFree());
  ExpectUndone(u, "the install was interrupted");
}

TEST(UpgradeTransaction, TheUpdaterLeavesARunningInstanceAloneAndTheNextStartSaysWhy) {
  Upgrade u;
  u.server.AddTextFile("info.txt", u.Info());
  Child other({u.app}, u.Env("info.txt", {{"KV_E2E_CHECK", "0"}, {"KV_E2E_HOLD_MS", "3000"}}), u.f.Root("other.log"));
  ASSERT_EQ(u.Run(u.Env("info.txt", {{"KELVORA_UPDATER_WAIT_MS", "300"}})), 0) << ReadWholeFile(u.f.Root("app.log"));
  ASSERT_TRUE(u.LockFree());
  const std::string log = ReadWholeFile(u.f.Root("app.log"));  // the updater's output too
  EXPECT_TRUE(Contains(log, "still running; nothing was changed")) << log;
  EXPECT_EQ(ReadWholeFile(u.app), u.oldBuild);
  EXPECT_EQ(ReadWholeFile(u.f.App("data.txt")), "old data");
  EXPECT_FALSE(FileExists(u.f.Root("marker"))) << "nothing restarted over a running instance";
  EXPECT_EQ(other.Wait(20000), 0);

  ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_CHECK", "0"}})), 0);
  ExpectUndone(u, "another instance of the program was still running");
}

// The processes (other than zombies) of this user that run Path.
std::vector<pid_t> Running(const std::string& Path) {
  std::vector<pid_t> out;
  struct stat file {};
  if (::stat(Path.c_str(), &file) != 0) return out;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    const std::string name = e.path().filename();
    struct stat exe {};
    if (name.find_first_not_of("0123456789") != std::string::npos ||
        ::stat((e.path() / "exe").c_str(), &exe) != 0 || exe.st_ino != file.st_ino || exe.st_dev != file.st_dev)
      continue;
    if (!Contains(ReadWholeFile(e.path() / "stat"), ") Z ")) out.push_back(std::stoi(name));
  }
  return out;
}

TEST(UpgradeTransaction, ConfirmAndUndoAreOneDecisionWhoeverComesFirst) {
  // The new build ignores the updater's request to end and then confirms:
  // the undo was decided first, so the confirmation is refused and the
  // records agree with the files (undone, told once).
  Upgrade u;
  u.server.AddTextFile("info.txt", u.Info());
  ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_AFTER", "late"}, {"KV_E2E_CONFIRM_S", "1"}})), 0);
  ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events() << ReadWholeFile(u.f.Root("app.log"));
  ASSERT_TRUE(u.LockFree());
  EXPECT_TRUE(Contains(u.Events(), "confirm:false\n")) << u.Events();
  ExpectUndone(u, "did not confirm its start within 1 s");
  EXPECT_FALSE(FileExists(u.f.Root("marker")));
}

TEST(UpgradeTransaction, ALauncherKeepsItsChanceAndAnUndoneReleaseEndsEveryProcessOfIt) {
  {
    SCOPED_TRACE("a launcher ends with status 0; the build it started confirms");
    Upgrade u;
    u.server.AddTextFile("info.txt", u.Info());
    ASSERT_EQ(u.Run(u.Env("info.txt", {{"KV_E2E_AFTER", "launch"}, {"KV_E2E_CONFIRM_S", "30"}})), 0);
    const auto marker = WaitForFile(u.f.Root("marker"), 40000);
    ASSERT_TRUE(marker) << u.Events() << ReadWholeFile(u.f.Root("app.log"));
    EXPECT_EQ(*marker, "restarted:/afterupgrade\nupdater:gone\n");
    ASSERT_TRUE(u.LockFree());
    EXPECT_EQ(ReadWholeFile(u.app), u.newBuild);
    for (const char* left : {"journal", "queue", "confirmed", "failed"})
      EXPECT_FALSE(FileExists(u.f.State(kAppName) + left)) << left;
  }
  {
    SCOPED_TRACE("a launcher's child that left its group, and an instance started by hand, end with the undo");
    Upgrade u;
    const std::string child = u.f.Root("child");
    CopyProgram(ProbeExe(), child);
    u.server.AddTextFile("info.txt", u.Info());
    Child app({u.app}, u.Env("info.txt", {{"KV_E2E_AFTER", "spawn"}, {"KV_E2E_CONFIRM_S", "5"}, {"KV_E2E_CHILD", child}}),
              u.f.Root("app.log"));
    ASSERT_TRUE(WaitForFile(child + ".started")) << u.Events();
    ASSERT_EQ(Running(child).size(), 1u);
    // Started by hand during the wait: the new build, not in the release's group.
    Child byHand({u.app}, u.Env("info.txt", {{"KV_E2E_CHECK", "0"}, {"KV_E2E_HOLD_MS", "50000"}}), u.f.Root("hand.log"));
    ASSERT_TRUE(EventsWith(u, "started\n"));
    ASSERT_TRUE(Contains(u.Events(), "start:new\nstarted\n")) << "the hand start ran the new build: " << u.Events();
    ASSERT_TRUE(EventsWith(u, "failed:")) << u.Events();
    ASSERT_TRUE(u.LockFree());
    EXPECT_EQ(byHand.Wait(10000), -1) << "ended by SIGTERM";
    EXPECT_FALSE(byHand.Running());
    EXPECT_TRUE(Running(child).empty()) << "the launcher's child ended";
    ExpectUndone(u, "the new version ended with status 0 and nothing confirmed its start within 5 s");
  }
}

// Root only: a folder owned by root that an unprivileged user cannot write,
// and a temporary folder on a noexec mount.
bool CanPlayOtherUsers() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }

TEST(UpgradeTransaction, AnUnwritableTargetFolderIsToldBeforeTheQuestionAndNothingDownloads) {
  if (!CanPlayOtherUsers()) GTEST_SKIP() << "needs root and setpriv to run the program as another user";
  Upgrade u;
  const uid_t nobody = 65534;
  ::chmod(u.f.Root().c_str(), 0755);
  for (const std::string& p : {u.f.App(), u.f.Tmp(), u.app, u.f.App("data.txt")})
    ASSERT_EQ(::chown(p.c_str(), nobody, nobody), 0);
  const std::string shared = u.f.Root("shared/");
  ::mkdir(shared.c_str(), 0755);  // root's
  WriteTextFile(u.f.Root("events"), "");
  ::chmod(u.f.Root("events").c_str(), 0666);
  u.server.AddTextFile("info.txt", u.Info() + "#url4=" + u.server.Url("/data.txt") + "=" + shared + "data.txt\n");
  auto env = u.Env("info.txt");
  Child c({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", u.app}, env, u.f.Root("app.log"));
  EXPECT_EQ(c.Wait(60000), 5) << ReadWholeFile(u.f.Root("app.log"));
  // Told before, and instead of, the question.
  EXPECT_TRUE(Contains(u.Events(), "you are not allowed to change \"" + shared + "\"")) << u.Events();
  EXPECT_FALSE(Contains(u.Events(), "asked"));
  EXPECT_TRUE(Contains(u.Events(), "aborted"));
  EXPECT_FALSE(Contains(u.Events(), "file:")) << "nothing downloaded";
  EXPECT_EQ(ReadWholeFile(u.app), u.oldBuild);
  EXPECT_TRUE(u.NoStagedFiles());
  EXPECT_FALSE(FileExists(u.f.Root("marker")));
}

TEST(UpgradeTransaction, ANoexecTemporaryFolderFallsBackToTheStateFolder) {
  Upgrade u;
  const kvtest::TScratchMount tmp(u.f.Tmp(), "mode=0700", MS_NOEXEC | MS_NOSUID);
  if (!tmp.Mounted()) GTEST_SKIP() << "needs root to mount a noexec tmpfs as the temporary folder";
  u.server.AddTextFile("info.txt", u.Info());
  ASSERT_EQ(u.Run(u.Env("info.txt")), 0) << ReadWholeFile(u.f.Root("app.log"));
  const auto marker = WaitForFile(u.f.Root("marker"), 60000);
  ASSERT_TRUE(marker) << ReadWholeFile(u.f.Root("app.log"));
  EXPECT_EQ(*marker, "restarted:/afterupgrade\nupdater:gone\n");
  EXPECT_EQ(ReadWholeFile(u.app), u.newBuild);
  for (const auto& entry : std::filesystem::directory_iterator(u.f.State(kAppName)))
    EXPECT_NE(entry.path().filename().string().rfind("AppUpdate", 0), 0u) << "the restarted build deletes the updater";
}

}  // namespace
}  // namespace kvtest
