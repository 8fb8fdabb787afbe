// The C interface as a C host uses it: against nginx in this process for
// its threads, callbacks and loop, and in a real upgrade round (CApiHost,
// the real updater) for the confirmation left to the host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kelvora/kelvora.h"
#include "support/Nginx.h"
#include "support/TestFiles.h"
#include "support/Watchdog.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

struct Seen {
  std::vector<kelvora_outcome> outcomes;
  kelvora_updater* u = nullptr;
  std::function<void()> then;  // run inside on_finished, after the outcome is noted
};

void KELVORA_CALL Finished(const kelvora_result* R, void* User) {
  auto* seen = static_cast<Seen*>(User);
  seen->outcomes.push_back(R->outcome);
  if (seen->then) seen->then();
}

// A started handle for nginx's /info.txt as version 1.0, with no UI.
kelvora_updater* Started(const Nginx& Server, Seen& Into, unsigned IntervalMs = 0) {
  kelvora_updater* u = kelvora_create();
  EXPECT_EQ(kelvora_set_info_address(u, Server.Url("/info.txt").c_str()), KELVORA_OK);
  EXPECT_EQ(kelvora_set_version(u, "1.0"), KELVORA_OK);
  EXPECT_EQ(kelvora_set_ui(u, KELVORA_UI_NONE), KELVORA_OK);
  EXPECT_EQ(kelvora_set_check_interval(u, IntervalMs), KELVORA_OK);
  EXPECT_EQ(kelvora_on_finished(u, Finished, &Into), KELVORA_OK);
  EXPECT_EQ(kelvora_init(u), KELVORA_OK) << kelvora_last_error(u);
  Into.u = u;
  return u;
}

TEST(CInterface, CallsFromAnotherThreadOrACallbackAreRefusedAndAFreeThereIsDeferred) {
  Watchdog watchdog("the C interface's refusals", std::chrono::seconds(60));
  Nginx server;
  server.AddTextFile("info.txt", "#version=1.0\n");
  Seen seen;
  kelvora_updater* u = Started(server, seen);

  std::thread([u] {
    EXPECT_EQ(kelvora_check_now(u, 1), KELVORA_ERROR_THREAD);
    EXPECT_EQ(kelvora_cancel(u), KELVORA_ERROR_THREAD);
    EXPECT_EQ(kelvora_confirm_upgrade(u), KELVORA_ERROR_THREAD);
    EXPECT_EQ(kelvora_set_version(u, "2.0"), KELVORA_ERROR_THREAD);
    EXPECT_EQ(kelvora_run(u), KELVORA_RUN_REFUSED);
    EXPECT_EQ(kelvora_process_messages(u), KELVORA_RUN_REFUSED);
    EXPECT_EQ(kelvora_checking(u), 0);
    EXPECT_NE(std::string(kelvora_last_error(u)).find("thread"), std::string::npos);
    kelvora_free(u);  // refused: the handle stays the main thread's
  }).join();
  EXPECT_EQ(kelvora_checking(u), 0) << "nothing was started";
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE) << "no check under way: returns at once";
  EXPECT_STREQ(kelvora_last_error(u), "");
  EXPECT_EQ(kelvora_confirm_upgrade(u), KELVORA_ERROR_STATE) << "not a run the updater started";

  // Inside on_finished: no nested loop, and the handle's free waits for
  // kelvora_run to return (ASan's tree shows any read of it after).
  kelvora_run_result nested = KELVORA_RUN_DONE;
  seen.then = [&] {
    nested = kelvora_run(seen.u);
    kelvora_free(seen.u);
    kelvora_free(seen.u);  // a second call: nothing
  };
  ASSERT_EQ(kelvora_check_now(u, 1), KELVORA_OK);
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);
  EXPECT_EQ(nested, KELVORA_RUN_REFUSED);
  EXPECT_EQ(seen.outcomes, std::vector<kelvora_outcome>{KELVORA_UP_TO_DATE});
  EXPECT_STREQ(kelvora_outcome_name(KELVORA_CANCELLED), "cancelled");
}

TEST(CInterface, RunWithACheckIntervalChecksUntilStopped) {
  Watchdog watchdog("kelvora_run with an interval", std::chrono::seconds(60));
  Nginx server;
  server.AddTextFile("info.txt", "#version=1.0\n");

  // Stopped from the third check's on_finished.
  Seen seen;
  kelvora_updater* u = Started(server, seen, 20);
  seen.then = [&] {
    if (seen.outcomes.size() == 3) {
      EXPECT_EQ(kelvora_stop(seen.u), KELVORA_OK);
    }
  };
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);
  EXPECT_EQ(seen.outcomes, std::vector<kelvora_outcome>(3, KELVORA_UP_TO_DATE));
  EXPECT_EQ(kelvora_checking(u), 0);

  // Stopped from another thread once two more checks have ended; a stop
  // before kelvora_run ends the next run at once.
  std::atomic<size_t> ended{seen.outcomes.size()};
  seen.then = [&] { ended = seen.outcomes.size(); };
  std::thread stopper([&] {
    while (ended.load() < 5) std::this_thread::yield();
    EXPECT_EQ(kelvora_stop(u), KELVORA_OK);
  });
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);
  stopper.join();
  EXPECT_GE(seen.outcomes.size(), 5u);
  EXPECT_EQ(kelvora_stop(u), KELVORA_OK);
  const size_t before = seen.outcomes.size();
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);

  // kelvora_free inside on_finished ends the run too, and frees the handle.
  seen.then = [&] { kelvora_free(seen.u); };
  EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);
  EXPECT_EQ(seen.outcomes.size(), before + 1);
}

TEST(CInterface, AnAdministratorsPolicyRefusesChecksAsAnOutcomeOfTheirOwn) {
  Watchdog watchdog("a check refused by policy", std::chrono::seconds(60));
  Nginx server;
  server.AddTextFile("info.txt", "#version=2.0\n");
  TempDir etc;
  WriteTextFile(etc.File("kvcapi.json"), R"({"UpdatesEnabled": false})");
  ::setenv("KELVORA_POLICY_DIR", etc.Path().c_str(), 1);
  Seen seen;
  kelvora_updater* u = kelvora_create();
  ASSERT_EQ(kelvora_set_policy_names(u, "Kelvora Tests", "kvcapi"), KELVORA_OK);
  EXPECT_EQ(kelvora_set_policy_names(u, nullptr, "kvcapi"), KELVORA_ERROR_ARGUMENT);
  kelvora_free(u);
  u = kelvora_create();
  kelvora_set_policy_names(u, "", "kvcapi");
  seen.then = nullptr;
  ASSERT_EQ(kelvora_set_info_address(u, server.Url("/info.txt").c_str()), KELVORA_OK);
  kelvora_set_version(u, "1.0");
  kelvora_set_ui(u, KELVORA_UI_NONE);
  kelvora_on_finished(u, Finished, &seen);
  ASSERT_EQ(kelvora_init(u), KELVORA_OK);
  for (const int person : {1, 0}) {
    ASSERT_EQ(kelvora_check_now(u, person), KELVORA_OK);
    EXPECT_EQ(kelvora_run(u), KELVORA_RUN_DONE);
  }
  EXPECT_EQ(seen.outcomes, std::vector<kelvora_outcome>(2, KELVORA_REFUSED_BY_POLICY));
  EXPECT_STREQ(kelvora_outcome_name(KELVORA_REFUSED_BY_POLICY), "refused by policy");
  EXPECT_EQ(server.AccessLog(), "") << "no request at all";
  ::unsetenv("KELVORA_POLICY_DIR");
  kelvora_free(u);
}

TEST(CInterface, TheHostConfirmsItsUpgradeOrHasItUndone) {
  UpdaterFolders f;
  const std::string app = f.App("myapp");
  CopyProgram(KVTEST_CAPI_HOST, app);
  const std::string oldBuild = ReadWholeFile(app);
  const std::string newBuild = oldBuild + "\nnew build\n";
  Nginx server;
  server.AddTextFile("myapp", newBuild);
  server.AddTextFile("info.txt", "#version=2.0\n#url1=" + server.Url("/myapp") + "=" + app + "\n");
  auto env = f.Env();
  env["KVTEST_INFO_URL"] = server.Url("/info.txt");
  env["KVTEST_GO"] = f.Root("go");

  // Through the C interface: the restarted build holds the confirmation
  // until the test lets it go, and its confirmation is the one the install
  // waited for.
  {
    env["KVTEST_NOTES"] = f.Root("c.notes");
    Child old({app, "c"}, env, f.Root("c.log"));
    ASSERT_EQ(old.Wait(60000), 0) << ReadWholeFile(f.Root("c.log")) << ReadWholeFile(f.Root("c.notes"));
    for (int i = 0; i < 600 && ReadWholeFile(f.Root("c.notes")).find("waiting") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    WriteTextFile(f.Root("go"), "");
    for (int i = 0; i < 300 && ReadWholeFile(f.Root("c.notes")).find("again:") == std::string::npos; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadWholeFile(f.Root("c.notes")),
              "start: c\nfinished:updated \nstart:/afterupgrade c\nrestarted:updated 2.0\nwaiting\n"
              "confirm:0\nagain:2\n")
        << ReadWholeFile(f.Root("c.log"));
    EXPECT_EQ(ReadWholeFile(app), newBuild);
  }

  // Through the front door: a restarted build that never confirms is ended
  // and the previous release put back, which is told why. The first round's
  // build ends by itself; its file can be replaced once it no longer runs.
  for (int i = 0; i < 300; ++i) {
    const int fd = ::open(app.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  CopyProgram(KVTEST_CAPI_HOST, app);
  server.AddTextFile("info.txt", "#version=3.0\n#url1=" + server.Url("/myapp") + "=" + app + "\n");
  env["KVTEST_NOTES"] = f.Root("cpp.notes");
  Child old({app, "cpp"}, env, f.Root("cpp.log"));
  ASSERT_EQ(old.Wait(60000), 0) << ReadWholeFile(f.Root("cpp.log"));
  for (int i = 0; i < 600 && ReadWholeFile(f.Root("cpp.notes")).find("failed:") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string notes = ReadWholeFile(f.Root("cpp.notes"));
  EXPECT_EQ(notes.substr(0, notes.find("failed:")),
            "start: cpp\nfinished:updated \nstart:/afterupgrade cpp\nrestarted:updated 3.0\nwaiting\nstart: cpp\n")
      << notes << ReadWholeFile(f.Root("cpp.log"));
  EXPECT_NE(notes.find("failed:"), std::string::npos);
  EXPECT_EQ(ReadWholeFile(app), oldBuild) << "the previous release is back";
}

}  // namespace
}  // namespace kvtest
