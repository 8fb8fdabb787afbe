// A release that failed to install, against nginx: installed again only on
// a person's Yes, whichever way the check came (a host's own check without
// the question, assume-yes answers, the front door's interval).
#include <sys/stat.h>

#include <cstdio>

#include "engine/EngineFixture.h"
#include "kelvora/ConsoleUpgradeUI.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/StateFolder.h"
#include "kelvora/Updater.h"
#include "kelvora/VersionDecision.h"

using namespace kelvora;
using namespace kvtest;

TEST_F(EngineTest, AFailedReleaseIsInstalledAgainOnlyOnAPersonsYes) {
  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });
  server->AddPatternFile("a.bin", 1000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  const std::string release = "#date=12/31/2099";
  ::mkdir(StateFolder().c_str(), 0700);
  ASSERT_TRUE(WriteReleaseRecord(ReleaseRecordPath(), {k->InfoFileURL(), release, TReleaseState::Failed, "01/02/2003"}));

  // A host's own check without the question, and one answered by the
  // console's assume-yes: passed over, said to the developer.
  k->SetShowMessages(static_cast<TkvKelvoraShowMessages>(kDefaultShowMessages & ~(1u << mAskUpgrade)));
  ASSERT_TRUE(RunCheckUntil("Later"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;Later");
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  TkvConsoleUpgradeUI assumeYes(TkvConsoleUpgradeUI::cmAssumeYes, in, out);
  k->SetUI(&assumeYes);
  k->SetShowMessages(kDefaultShowMessages);
  events.clear();
  ASSERT_TRUE(RunCheckUntil("Later"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;Later");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[1].find(release + " of " + k->InfoFileURL() + " failed to install on 01/02/2003 and is passed over"),
            std::string::npos) << notes[1];

  // The front door's interval with assume-yes answers: every check passes it over.
  {
    Updater updater({.infoAddress = k->InfoFileURL(), .releaseDate = "01/01/2001", .ui = UiMode::ConsoleAssumeYes,
                     .checkInterval = std::chrono::milliseconds(20)});
    std::vector<Outcome> outcomes;
    updater.onFinished([&](const Result& R) { outcomes.push_back(R.outcome); });
    ASSERT_TRUE(PumpUntil([&] { return outcomes.size() >= 3; }));
    EXPECT_EQ(outcomes, std::vector<Outcome>(outcomes.size(), Outcome::Later));
  }
  EXPECT_FALSE(FileExists(dir.File("a.bin.uTMP")));
  EXPECT_FALSE(Has("FileStart"));

  // A person asked, who answers Yes: installed, recorded as today's attempt
  // before the hand-over.
  events.clear();
  k->SetUI(&ui);
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_EQ(ui.Count("AskUpgrade"), 1);
  EXPECT_TRUE(Has("FileDone:a.bin.uTMP"));
  const auto record = ReadReleaseRecord(ReleaseRecordPath());
  ASSERT_TRUE(record);
  EXPECT_EQ(record->State, TReleaseState::Attempted);
  EXPECT_EQ(record->Day, FormatEngineDate(TodayDate()));
  SetDeveloperLog(nullptr);
  std::fclose(in);
  std::fclose(out);
}
