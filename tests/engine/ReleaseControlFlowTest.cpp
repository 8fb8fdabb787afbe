// Release control through the real component against nginx and the fault
// server: replays and versions that are none are refused with the reason,
// the rollout decides per installation exactly as kelvora-publish simulate
// says, and a halt drops what was downloaded for the release.
#include <sstream>

#include "engine/EngineFixture.h"
#include "kelvora/StateFolder.h"
#include "kelvora/Updater.h"
#include "kelvora/trust/Crypto.h"
#include "support/FaultServer.h"
#include "support/TestProcess.h"

using namespace kelvora;
using namespace kvtest;

namespace {

class ReleaseControlFlow : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Restart();
  }
  // The program started anew: a fresh component that decides by number.
  void Restart() {
    k.reset();
    k = std::make_unique<TkvKelvora>(nullptr);
    k->SetUI(&ui);
    k->SetVersionControl(byNumber);
    k->SetVersionNumber("1.0");
    k->SetPublicKey(trust::Base64Encode(key.PublicKeyDer));
    k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Record("Refused:" + Reason); };
    k->OnNoUpdateAvailable = [this](TObject*) { Record("NoUpdate"); };
    k->OnConnLost = [this](TObject*) { Record("ConnLost"); };
    if (!url.empty()) k->SetInfoFileURL(url);
  }
  // Signed: only a signed file's sequence is kept.
  void Publish(const std::string& Body) {
    PublishInfo(Body + "#signature=" + trust::Base64Encode(trust::SignMessage(key.PrivateKeyPem, Body)) + "\n");
    url = k->InfoFileURL();
  }
  // A check that only asks: "offered", "not offered" or the refusal.
  std::string Check() {
    events.clear();
    const bool found = k->CheckUpdates(true);
    for (const std::string& e : events)
      if (e.starts_with("Refused:")) return e;
    return found ? "offered" : "not offered";
  }
  std::string url;
  inline static const trust::TKeyPair key = trust::GenerateKeyPair();
};

}  // namespace

TEST_F(ReleaseControlFlow, ReplaysAndVersionsThatAreNoneAreRefusedWithTheReason) {
  const std::string files =
      "#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#hash1=sha256:" + std::string(64, '0') + " 1\n";
  Publish("#version=2.0\n#sequence=5\n" + files);
  EXPECT_EQ(Check(), "offered");
  Restart();
  Publish("#version=2.0\n#sequence=4\n" + files);
  const std::string replay = Check();
  EXPECT_NE(replay.find("replay: its #sequence 4 is below 5"), std::string::npos) << replay;
  EXPECT_FALSE(Has("BeginUpgrade"));
  Publish("#version=2.0\n" + files);
  EXPECT_NE(Check().find("#sequence is missing"), std::string::npos) << "a file from before the key was used";
  Publish("#version=2.1\n#sequence=6\n" + files);
  EXPECT_EQ(Check(), "offered");
  Publish("#version=2.0\n#sequence=5\n" + files);
  EXPECT_NE(Check().find("replay"), std::string::npos) << "the higher number was kept";

  k->SetPublicKey("");
  PublishInfo("#version=2.0\n#sequence=999\n" + files);
  EXPECT_EQ(Check(), "offered");
  k->SetPublicKey(trust::Base64Encode(key.PublicKeyDer));
  Publish("#version=2.1\n#sequence=6\n" + files);
  EXPECT_EQ(Check(), "offered") << "an unsigned file's sequence is not kept: it could lock signed releases out";

  Publish("#version=abc\n#sequence=7\n" + files);
  EXPECT_NE(Check().find("malformed #version: \"abc\""), std::string::npos);
  Publish("#version=1.0-beta.2\n#sequence=7\n" + files);
  EXPECT_EQ(Check(), "not offered") << "a pre-release orders below its release";
  Publish("#version=1.0.1-beta.2\n#sequence=7\n" + files);
  EXPECT_EQ(Check(), "offered");
  Publish("#version=2.0\n#sequence=7\n#rollout=1O\n" + files);
  EXPECT_NE(Check().find("malformed #rollout"), std::string::npos);
}

TEST_F(ReleaseControlFlow, RolloutAgreesWithTheSimulatorAndAHaltDropsStagedDownloads) {
  FaultServer faults;
  const std::string path = "/p/bytes/n:50000/etag:v1/cut:40000";
  const std::string body = PatternBytes(0, 50000);
  const std::string files = "#url1=" + faults.Url(path) + "=" + dir.File("a.bin") + "\n#hash1=sha256:" +
                            trust::Sha256Hex(body) + " 50000\n";
  Publish("#version=2.0\n#rollout=40\n" + files);
  // A few installations end to end, each with its own identifier.
  std::string ids, decided;
  for (int i = 0; i < 16; ++i) {
    const std::string id = trust::Sha256Hex("flow installation " + std::to_string(i)).substr(0, 32);
    WriteTextFile(StateFolder() + "installation-id", id + "\n");
    Restart();
    ids += id + "\n";
    decided += id + (Check() == "offered" ? " offered\n" : " not offered: outside the rollout\n");
  }
  WriteTextFile(dir.File("info.txt"), ReadWholeFile(server->Root() + "/info.txt"));
  WriteTextFile(dir.File("ids"), ids);
  const std::string log = dir.File("simulate.log");
  ASSERT_EQ(RunCommand({KV_PUBLISH_TOOL, "simulate", dir.File("info.txt"), "--ids", dir.File("ids")}, log), 0)
      << ReadWholeFile(log);
  const std::string simulated = ReadWholeFile(log);
  EXPECT_EQ(simulated.substr(0, decided.size()), decided) << "the simulator and the component agree";
  EXPECT_NE(decided.find(" offered\n"), std::string::npos);
  EXPECT_NE(decided.find(" not offered"), std::string::npos);

  // The last installation outside the rollout: a person's check takes the
  // release only when the host lets it; a halted release never.
  const size_t outside = decided.rfind(" not offered");
  WriteTextFile(StateFolder() + "installation-id", decided.substr(decided.rfind('\n', outside) + 1, 32) + "\n");
  Restart();
  EXPECT_EQ(Check(), "not offered");
  k->SetRequestedCheckIgnoresRollout(true);
  EXPECT_EQ(Check(), "offered");
  Publish("#version=2.0\n#rollout=0\n" + files);
  EXPECT_EQ(Check(), "not offered");
  Publish("#version=2.0\n#rollout=40\n" + files);

  // An installation without an identifier gets one, and keeps it.
  ::unlink((StateFolder() + "installation-id").c_str());
  Restart();
  Check();
  const std::string made = ReadWholeFile(StateFolder() + "installation-id");
  EXPECT_EQ(made.size(), 33u) << made;
  Restart();
  Check();
  EXPECT_EQ(ReadWholeFile(StateFolder() + "installation-id"), made);

  // Offered to everybody, cut short halfway; then halted: not offered, and
  // the part kept for it is gone at that check.
  Publish("#version=2.0\n#sequence=1\n" + files);
  events.clear();
  ASSERT_TRUE(RunCheckUntil("ConnLost")) << Events() << faults.Log();
  ASSERT_TRUE(FileExists(dir.File("a.bin.uPART")));
  ASSERT_TRUE(FileExists(StateFolder() + "resume"));
  Restart();
  Publish("#version=2.0\n#sequence=2\n#rollout=0\n" + files);
  EXPECT_EQ(Check(), "not offered");
  EXPECT_FALSE(FileExists(dir.File("a.bin.uPART")));
  EXPECT_FALSE(FileExists(StateFolder() + "resume"));

  // The info file is asked for so that no cache in between answers for it.
  k->SetInfoFileURL(faults.Url("/echo"));
  Check();
  TkvCustomHTTP h(nullptr);
  std::string log2;
  h.OnDone = [&](TObject*, const std::string&, int64_t, TStream* D) {
    log2 = dynamic_cast<TMemoryStream*>(D)->ToString();
  };
  h.SetURL(faults.Url("/_log"));
  h.Read(true);
  std::istringstream lines(log2);
  std::string entry;
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"target\": \"/echo\"") != std::string::npos) entry = line;
  EXPECT_NE(entry.find("[\"Cache-Control\", \"no-cache\"]"), std::string::npos) << log2;
  EXPECT_NE(entry.find("[\"Pragma\", \"no-cache\"]"), std::string::npos) << entry;
}

// A busy server's Retry-After holds the interval's checks back (a person's
// check still goes); without one the interval goes on checking.
TEST_F(ReleaseControlFlow, ABusyServersRetryAfterHoldsTheIntervalChecksBack) {
  FaultServer faults;
  for (const bool retryAfter : {true, false}) {
    Updater updater({.infoAddress = faults.Url(retryAfter ? "/status/503?retry_after=3600" : "/status/503"),
                     .version = "1.0",
                     .ui = UiMode::ConsoleAssumeYes,
                     .checkInterval = std::chrono::milliseconds(20),
                     .userCheckMessages = Messages::None});
    std::vector<Result> results;
    updater.onFinished([&](const Result& R) { results.push_back(R); });
    ASSERT_TRUE(PumpUntil([&] { return !results.empty() && !updater.checking(); }));
    EXPECT_EQ(results[0].outcome, Outcome::NoInfoFile);
    EXPECT_EQ(results[0].statusCode, 503);
    if (!retryAfter) {
      EXPECT_TRUE(PumpUntil([&] { return results.size() >= 3; })) << "the interval goes on";
      continue;
    }
    // Forty intervals and more: no check of the interval's in that time (a
    // loaded machine only makes it fewer).
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(800);
    PumpUntil([&] { return std::chrono::steady_clock::now() > end; });
    EXPECT_EQ(results.size(), 1u);
    updater.checkNow();
    ASSERT_TRUE(PumpUntil([&] { return results.size() >= 2 && !updater.checking(); }));
    EXPECT_TRUE(results[1].userStarted);
  }
}

TEST_F(ReleaseControlFlow, ACriticalReleaseAndOneBelowTheMinimumAreToldAndInstalledNotAsked) {
  server->AddPatternFile("a.bin", 1000);
  const std::string files = "#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#hash1=sha256:" +
                            trust::Sha256Hex(PatternBytes(0, 1000)) + " 1000\n";
  bool downloading = false;
  k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool& Go) {
    downloading = true;
    Go = false;  // enough seen: nothing is installed
  };
  k->OnAborted = [this](TObject*) { Record("Aborted"); };
  k->OnLaterUpgrade = [this](TObject*) { Record("Later"); };
  auto told = [&](const std::string& Text) {
    return ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|64|" + Text);
  };
  Publish("#version=2.0\n#sequence=1\n#critical=yes\n" + files);
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_TRUE(downloading) << Events();
  EXPECT_EQ(ui.Count("AskUpgrade"), 0) << "no question with a Later";
  EXPECT_EQ(told(FormatLangText(ltCriticalUpdate, {ProgramTitle()})), 1);

  // Below the minimum: the same, with the reason; above it, the usual question.
  downloading = false;
  events.clear();
  Publish("#version=2.0\n#sequence=2\n#minimum=1.5\n" + files);
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_TRUE(downloading) << Events();
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);
  EXPECT_EQ(told(FormatLangText(ltBelowMinimum, {ProgramTitle(), "1.5"})), 1);
  downloading = false;
  k->SetVersionNumber("1.6");
  ui.UpgradeAnswers.push_back(false);
  ASSERT_TRUE(RunCheckUntil("Later"));
  EXPECT_FALSE(downloading);
  EXPECT_EQ(ui.Count("AskUpgrade"), 1);
}
