// The whole upgrade with real processes: an old build checks nginx, downloads
// the new build of itself and a document, writes and starts the real
// updater and ends; the updater puts the files in place and starts the new
// build with "/afterupgrade", which reports the restart.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/Nginx.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

TEST(UpdaterEndToEnd, TheOldBuildIsReplacedAndTheNewOneReportsTheRestart) {
  UpdaterFolders f;
  const std::string app = f.App("kv_e2e_app");
  CopyProgram(KV_E2E_APP_EXE, app);
  // The new build: the same program with bytes of its own at the end.
  const std::string newBuild = ReadWholeFile(KV_E2E_APP_EXE) + "\nnew build\n";
  Nginx server;
  server.AddTextFile("kv_e2e_app", newBuild);
  server.AddTextFile("readme.txt", "read me");
  server.AddTextFile("info.txt", "#date=12/31/2099\n#url1=" + server.Url("/kv_e2e_app") + "\n#url2=" +
                                     server.Url("/readme.txt") + "=%current%doc/readme.txt\n");

  auto env = f.Env();
  env["KV_E2E_MARKER"] = f.Root("marker");
  env["KV_E2E_INFO_URL"] = server.Url("/info.txt");
  env["KELVORA_UPDATER_WAIT_MS"] = "60000";
  Child old({app}, env, f.Root("app.log"));
  ASSERT_EQ(old.Wait(60000), 0) << ReadWholeFile(f.Root("app.log"));

  const auto marker = WaitForFile(f.Root("marker"), 60000);
  ASSERT_TRUE(marker) << ReadWholeFile(f.Root("app.log"));
  EXPECT_EQ(*marker, "restarted:/afterupgrade\nupdater:gone\n") << "the restarted build deletes the updater";
  EXPECT_EQ(ReadWholeFile(app), newBuild);
  EXPECT_EQ(ModeOf(app), 0755u);
  EXPECT_EQ(ReadWholeFile(f.App("doc/readme.txt")), "read me");
  EXPECT_FALSE(FileExists(app + ".uTMP"));
  EXPECT_FALSE(FileExists(f.App("doc/readme.txt.uTMP")));
  EXPECT_FALSE(FileExists(f.QueueFile()));
}

}  // namespace
}  // namespace kvtest
