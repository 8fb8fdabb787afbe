// Metered connections, as a NetworkManager stand-in on a private system bus
// reports them: a check nobody asked for reads the info file and downloads
// nothing, unless the host allows it; a person's check asks first.
#include <cstdlib>

#include "engine/EngineFixture.h"
#include "platform/ConnectionCost.h"
#include "support/NetworkManagerMock.h"

using namespace kelvora;
using namespace kvtest;

TEST_F(EngineTest, AnAutomaticCheckDownloadsNothingOverAMeteredConnection) {
  using platform::ConnectionCost;
  using platform::TConnectionCost;
  NetworkManagerMock networkManager(1);
  server->AddPatternFile("prog.bin", 3000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n");
  bool downloading = false;
  k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool& Go) {
    downloading = true;
    Go = false;  // the download started: enough, nothing is installed
  };
  const auto check = [&](bool Automatic) {
    events.clear();
    downloading = false;
    k->CheckUpdates(false, Automatic);
    return PumpUntil([&] { return (Has("Later") || Has("Aborted")) && !k->Busy(); });
  };

  for (const uint32_t metered : {1u, 3u}) {  // metered, and guessed so
    SCOPED_TRACE(metered);
    networkManager.SetMetered(metered);
    EXPECT_EQ(ConnectionCost(), TConnectionCost::Metered);
    ASSERT_TRUE(check(true)) << Events();
    EXPECT_TRUE(Has("BeginUpgrade")) << "the info file was read";
    EXPECT_TRUE(Has("Later")) << Events();
    EXPECT_FALSE(downloading);
    EXPECT_TRUE(k->DeferredOnMetered());
  }
  EXPECT_EQ(server->AccessLog().find("/prog.bin"), std::string::npos) << server->AccessLog();

  networkManager.SetMetered(4);  // guessed free
  ASSERT_TRUE(check(true)) << Events();
  EXPECT_TRUE(downloading) << Events();
  EXPECT_FALSE(k->DeferredOnMetered());

  networkManager.SetMetered(1);
  k->SetDownloadOnMetered(true);
  ASSERT_TRUE(check(true)) << Events();
  EXPECT_TRUE(downloading) << "the host allows downloads over metered connections";
  k->SetDownloadOnMetered(false);

  // A person's check asks first, even where the question is off.
  k->SetShowMessages(0);
  ui.UpgradeAnswers.push_back(false);
  const int asked = ui.Count("AskUpgrade:");
  ASSERT_TRUE(check(false)) << Events();
  EXPECT_EQ(ui.Count("AskUpgrade:"), asked + 1);
  EXPECT_FALSE(downloading);
  EXPECT_FALSE(k->DeferredOnMetered());

  networkManager.SetMetered(0);
  EXPECT_EQ(ConnectionCost(), TConnectionCost::Unknown);
  networkManager.SetMetered(2);
  EXPECT_EQ(ConnectionCost(), TConnectionCost::Unmetered);
  // No bus at all: unknown, and the check goes on as on a free connection.
  const TempDir nowhere;
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + nowhere.File("no-bus")).c_str(), 1);
  EXPECT_EQ(ConnectionCost(), TConnectionCost::Unknown);
}
