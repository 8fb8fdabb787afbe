// A release is never installed again and again, and nothing is handed over
// that the next start could not account for. Real processes throughout: the
// test application (E2EApp) checking at every start with assume-yes answers,
// the real updater, nginx.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "support/ScratchMount.h"
#include "support/Nginx.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

const char* const kAppName = "kv_loop_app";

size_t Count(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
  return n;
}

// (Program files are compared with ==: a failed EXPECT_EQ of two builds would
// have the test framework diff megabytes of binary text.)
struct Scenario {
  UpdaterFolders f;
  std::string app = f.App(kAppName);
  std::string oldBuild = ReadWholeFile(KV_E2E_APP_EXE), newBuild = oldBuild + "\nnew build\n";
  Nginx server;

  Scenario() { server.AddTextFile(kAppName, newBuild); }
  void Place() const { CopyProgram(KV_E2E_APP_EXE, app); }
  std::string State() const { return f.State(kAppName); }
  // The info file offers the program's new build as the release of Date
  // (from Address, when given).
  void Offer(const std::string& Date, const std::string& Address = "") const {
    server.AddTextFile("info.txt", "#date=" + Date + "\n#url1=" +
                                       (Address.empty() ? server.Url(std::string("/") + kAppName) : Address) + "\n");
  }
  // A host that checks at every start, every question answered yes.
  EnvChanges Env(const EnvChanges& Extra = {}) const {
    auto env = f.Env();
    env["LANG"] = "C";
    env["LANGUAGE"] = std::nullopt;
    env["LC_ALL"] = std::nullopt;
    env["KV_E2E_MARKER"] = f.Root("marker");
    env["KV_E2E_EVENTS"] = f.Root("events");
    env["KV_E2E_INFO_URL"] = server.Url("/info.txt");
    env["KV_E2E_EVERY_START"] = "1";
    env["KELVORA_UPDATER_WAIT_MS"] = "60000";
    for (const auto& [k, v] : Extra) env[k] = v;
    return env;
  }
  int Run(const EnvChanges& Env) const {
    Child c({app}, Env, f.Root("app.log"));
    return c.Wait(60000);
  }
  std::string Events() const { return FileExists(f.Root("events")) ? ReadWholeFile(f.Root("events")) : ""; }
  // Waits (bounded) until Events() holds Part N times.
  bool EventsWith(const std::string& Part, size_t N = 1) const {
    for (int i = 0; i < 3000; ++i) {
      if (Count(Events(), Part) >= N) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Waits (bounded) until nobody holds the upgrade lock in Folder.
  static bool LockFree(const std::string& Folder) {
    const int fd = ::open((Folder + "lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    bool free = false;
    for (int i = 0; i < 3000 && !free; ++i) {
      free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
      if (!free) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
    return free;
  }
  bool NothingStaged() const {
    for (const auto& e : std::filesystem::directory_iterator(f.App())) {
      const std::string p = e.path().string();
      if (p.ends_with(".uTMP") || p.ends_with(".uPART")) return false;
    }
    return !FileExists(State() + "queue") && !FileExists(State() + "journal");
  }
  std::string Record() const {
    return FileExists(State() + "installed-release") ? ReadWholeFile(State() + "installed-release") : "";
  }
};

TEST(NeverLoop, AReleaseThatFailsIsNotInstalledAgainUntilAnotherIsOffered) {
  Scenario s;
  s.Place();
  s.Offer("12/31/2099");
  // The new build crashes at start: undone, and the old build, told, checks
  // again at once, and once more at the next start.
  ASSERT_EQ(s.Run(s.Env({{"KV_E2E_AFTER", "crash"}})), 0) << ReadWholeFile(s.f.Root("app.log"));
  ASSERT_TRUE(s.EventsWith("later")) << s.Events();
  ASSERT_TRUE(Scenario::LockFree(s.State()));
  ASSERT_EQ(s.Run(s.Env({{"KV_E2E_AFTER", "crash"}})), 0);
  ASSERT_TRUE(s.EventsWith("later", 2)) << s.Events();
  std::string events = s.Events();
  EXPECT_EQ(Count(events, "file:"), 1u) << "one download, not a loop:\n" << events;
  EXPECT_EQ(Count(events, "failed:"), 1u) << events;
  EXPECT_EQ(Count(events, "start:new /afterupgrade"), 1u) << events;
  EXPECT_EQ(Count(events, "is installed without a person's answer"), 1u) << "the automatic attempt is said";
  EXPECT_EQ(Count(events, "failed to install on "), 2u) << "each pass-over is said";
  EXPECT_TRUE(ReadWholeFile(s.app) == s.oldBuild);
  EXPECT_EQ(s.Record().rfind("kelvora-release 1\nfailed ", 0), 0u) << s.Record();

  // Another release is installed, by itself again.
  s.Offer("01/31/2100");
  ASSERT_EQ(s.Run(s.Env()), 0);
  ASSERT_TRUE(WaitForFile(s.f.Root("marker"), 30000)) << s.Events();
  ASSERT_TRUE(Scenario::LockFree(s.State()));
  events = s.Events();
  EXPECT_EQ(Count(events, "file:"), 2u) << events;
  EXPECT_TRUE(ReadWholeFile(s.app) == s.newBuild);
  EXPECT_EQ(s.Record(), "kelvora-release 1\nconfirmed\n" + s.server.Url("/info.txt") + "\n#date=01/31/2100\n");
}

TEST(NeverLoop, AFullDiskNeverHandsOverHalfDoneNorLoops) {
  // The program's disk fills up right after the downloads ("end": before the
  // hand-over is recorded) or once the updater runs ("close": it can write
  // neither its journal nor why it gave up).
  for (const std::string at : {"end", "close"}) {
    SCOPED_TRACE(at);
    Scenario s;
    const std::string size = std::to_string(3 * s.newBuild.size() + (1 << 20));
    const kvtest::TScratchMount disk(s.f.App(), "size=" + size + ",mode=0755");
    if (!disk.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs as the program's folder";
    s.Place();
    s.Offer("12/31/2099");
    const int rc = s.Run(s.Env({{"KV_E2E_FILL", s.f.App("filler")}, {"KV_E2E_FILL_AT", at}}));
    std::string events = s.Events();
    ASSERT_EQ(Count(events, "filled"), 1u) << events << ReadWholeFile(s.f.Root("app.log"));
    if (at == "end") {
      // Told, and nothing handed over: no updater, no restart, nothing left.
      EXPECT_EQ(rc, 5);
      EXPECT_EQ(Count(events, "message:Cannot write \"" + s.State() + "installed-release\": the disk is full"), 1u)
          << events;
      EXPECT_EQ(Count(events, "start:"), 1u) << events;
      EXPECT_TRUE(s.NothingStaged());
      EXPECT_EQ(s.Record(), "");
    } else {
      // The old build is told, and passes the release over from then on,
      // even once the disk has room again.
      ASSERT_TRUE(s.EventsWith("later")) << events << ReadWholeFile(s.f.Root("app.log"));
      ASSERT_TRUE(Scenario::LockFree(s.State()));
      ::unlink(s.f.App("filler").c_str());
      ASSERT_EQ(s.Run(s.Env()), 0);
      ASSERT_TRUE(s.EventsWith("later", 2)) << s.Events();
      events = s.Events();
      EXPECT_EQ(Count(events, "file:"), 1u) << events;
      EXPECT_EQ(Count(events, "failed:"), 1u) << events;
      EXPECT_EQ(Count(events, "start:new"), 0u) << events;
      EXPECT_TRUE(s.NothingStaged());
    }
    EXPECT_TRUE(ReadWholeFile(s.app) == s.oldBuild);
  }
}

TEST(NeverLoop, NoFileToInstallIsNoHandOverAndNoInstalledRelease) {
  // The only listed file is lost; the console answers "skip it" by itself.
  Scenario s;
  s.Place();
  s.Offer("12/31/2099", s.server.Url("/gone"));
  for (int run = 1; run <= 2; ++run) {
    EXPECT_EQ(s.Run(s.Env()), 5);
    const std::string events = s.Events();
    EXPECT_EQ(Count(events, "lost file"), static_cast<size_t>(run)) << "offered again, never counted installed";
    EXPECT_EQ(Count(events, "aborted"), static_cast<size_t>(run)) << events;
    EXPECT_EQ(s.Record(), "") << "not handed over";
    EXPECT_TRUE(s.NothingStaged());
  }
  EXPECT_TRUE(ReadWholeFile(s.app) == s.oldBuild);
  EXPECT_FALSE(FileExists(s.f.Root("marker"))) << "nothing restarted";
}

TEST(NeverLoop, AConfirmTimeoutOutOfRangeIsKeptInRangeAndTheReleaseConfirms) {
  Scenario s;
  s.Place();
  s.Offer("12/31/2099");
  ASSERT_EQ(s.Run(s.Env({{"KV_E2E_CONFIRM_S", "1000000"}})), 0) << ReadWholeFile(s.f.Root("app.log"));
  const auto marker = WaitForFile(s.f.Root("marker"), 30000);
  ASSERT_TRUE(marker) << s.Events();
  ASSERT_TRUE(Scenario::LockFree(s.State()));
  EXPECT_TRUE(ReadWholeFile(s.app) == s.newBuild) << "installed, not a queue the updater could not read";
  EXPECT_EQ(Count(s.Events(), "dev:ConfirmTimeout 1000000 is more than the longest wait, 3600 s"), 2u) << s.Events();
  EXPECT_EQ(s.Record().rfind("kelvora-release 1\nconfirmed\n", 0), 0u) << s.Record();
  EXPECT_FALSE(FileExists(s.app + ".uOLD"));
}

TEST(NeverLoop, NoRecordIsWrittenThroughALinkPlantedAtTheStateFolder) {
  // While the updater waits for a new build that never confirms, the state
  // folder is swapped for a link to another folder of the user's.
  Scenario s;
  s.Place();
  s.Offer("12/31/2099");
  const std::string victim = s.f.Root("victim");
  ASSERT_EQ(::mkdir(victim.c_str(), 0700), 0);
  WriteTextFile(victim + "/notes.txt", "mine");
  ASSERT_EQ(s.Run(s.Env({{"KV_E2E_AFTER", "hang"}, {"KV_E2E_CONFIRM_S", "3"}})), 0);
  ASSERT_TRUE(s.EventsWith("start:new /afterupgrade")) << s.Events();
  const std::string state = s.State().substr(0, s.State().size() - 1), moved = s.f.Root("moved-state");
  ASSERT_EQ(::rename(state.c_str(), moved.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), state.c_str()), 0);
  ASSERT_TRUE(Scenario::LockFree(moved + "/")) << "the updater gave up waiting";
  // The program started after that finds the link and refuses it.
  ASSERT_TRUE(s.EventsWith("aborted")) << s.Events();
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(victim)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"notes.txt"}) << "nothing written into the link's target";
  EXPECT_EQ(ReadWholeFile(victim + "/notes.txt"), "mine");
}

}  // namespace
}  // namespace kvtest
