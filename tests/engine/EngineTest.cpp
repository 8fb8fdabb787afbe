#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/ScratchMount.h"
#include "engine/EngineFixture.h"
#include "kelvora/Application.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/StateFolder.h"
#include "kelvora/PlainLoop.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/VersionDecision.h"
#include "platform/Resources.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {
TPlainLoopBackend& Plain() { return dynamic_cast<TPlainLoopBackend&>(LoopBackend()); }
}  // namespace

// --- the component itself ---

TEST_F(EngineTest, FreshComponentHasTheDocumentedDefaults) {
  TkvKelvora fresh(nullptr);
  EXPECT_EQ(fresh.InfoFileURL(), "http://");
  EXPECT_EQ(fresh.RestartParams(), "/afterupgrade");
  EXPECT_EQ(fresh.VersionDate(), FormatEngineDate(TodayDate()));
  EXPECT_EQ(fresh.VersionDate().size(), 10u);
  EXPECT_TRUE(fresh.VersionDateAutoSet());
  EXPECT_EQ(fresh.AutoCheckDelay(), 10000);
  EXPECT_EQ(fresh.ShowMessages(), 75);
  EXPECT_EQ(fresh.ConfirmUpgrade(), cuOnLoaded);
  EXPECT_EQ(fresh.ConfirmTimeout(), 30);
  EXPECT_TRUE(fresh.OutputFileAttributes().Incomplete() == (TkvFileAttributes{atrHidden, atrTemporary}));
}

TEST_F(EngineTest, RestartParamsIsNeverEmptyAndStoredOnlyWhenChanged) {
  k->SetRestartParams("");
  EXPECT_EQ(k->RestartParams(), " ");
  auto stored = WriteProperties(*k);
  EXPECT_EQ(stored["RestartParams"], " ");
  k->SetRestartParams("/afterupgrade");
  stored = WriteProperties(*k);
  EXPECT_FALSE(stored.contains("RestartParams"));
  EXPECT_TRUE(stored.contains("InfoFileURL")) << "no declared default: always stored";
  EXPECT_TRUE(stored.contains("VersionDate"));
  EXPECT_TRUE(stored.contains("VersionDateAutoSet"));
  EXPECT_FALSE(stored.contains("ShowMessages"));
}

TEST_F(EngineTest, StoredLayoutRoundTripIncludingTheLogin) {
  k->SetName("Kelvora1");
  k->SetVersionControl(byNumber);
  k->SetVersionNumber("1.2.3");
  k->SetShowMessages(ShowMessagesOf({mAskUpgrade, mNoUpdateAvailable}));
  k->SetHTTPUsername("user");
  k->SetHTTPPassword("pass");
  k->Wizard().SetHideFileLocation(true);
  std::string text = WriteComponentText(*k, "TkvKelvora");
  TkvKelvora copy(nullptr);
  copy.SetName("Kelvora1");
  ReadComponentText(copy, text);
  EXPECT_EQ(copy.VersionControl(), byNumber);
  EXPECT_EQ(copy.VersionNumber(), "1.2.3");
  EXPECT_EQ(copy.ShowMessages(), ShowMessagesOf({mAskUpgrade, mNoUpdateAvailable}));
  EXPECT_EQ(copy.HTTPUsername(), "user");
  EXPECT_EQ(copy.HTTPPassword(), "pass");
  EXPECT_TRUE(copy.Wizard().HideFileLocation());
  EXPECT_EQ(copy.VersionDate(), "01/01/2001");
}

TEST_F(EngineTest, AfterRestartFiresOnlyForTheExactFirstParameter) {
  const std::string program = Application().ParamStr(0);
  struct Case {
    std::vector<std::string> args;
    bool fires;
  } cases[] = {{{program, "/afterupgrade"}, true},
               {{program, "/AfterUpgrade"}, false},
               {{program, "x", "/afterupgrade"}, false},
               {{program}, false}};
  for (const auto& c : cases) {
    Application().SetArguments(c.args);
    TkvKelvora fresh(nullptr);
    int fired = 0;
    fresh.OnAfterRestart = [&](TObject*) { ++fired; };
    ReadComponentText(fresh, "{}");
    EXPECT_EQ(fired, c.fires ? 1 : 0) << c.args.size();
  }
  Application().SetArguments({program});
}

TEST_F(EngineTest, AutoCheckTimerIsArmedOnlyWithAPositiveDelayAndCanBeRefused) {
  k->SetAutoCheckDelay(0);
  k->SetAutoCheck(true);
  EXPECT_FALSE(Plain().HasTimer(k.get(), 1));
  k->SetAutoCheck(false);
  k->SetAutoCheckDelay(-5);
  k->SetAutoCheck(true);
  EXPECT_FALSE(Plain().HasTimer(k.get(), 1));
  k->SetAutoCheck(false);
  k->SetAutoCheckDelay(60000);
  k->SetAutoCheck(true);
  EXPECT_TRUE(Plain().HasTimer(k.get(), 1));
  k->SetAutoCheck(false);
  EXPECT_FALSE(Plain().HasTimer(k.get(), 1));

  Plain().SetTimerLimit(0);
  try {
    k->SetAutoCheck(true);
    ADD_FAILURE() << "expected a refusal";
  } catch (const EOutOfResources& e) {
    EXPECT_STREQ(e.what(), "Not enough timers available");
  }
  Plain().SetTimerLimit(-1);
}

// --- the check ---

TEST_F(EngineTest, NoUpdateWhenTheReleaseIsNotNewer) {
  PublishInfo("#date=01/01/2001\n#url1=" + server->Url("/a.bin") + "\n");
  k->SetShowMessages(ShowMessagesOf({mNoUpdateAvailable}));
  ASSERT_TRUE(RunCheckUntil("NoUpdate"));
  EXPECT_EQ(Events(), "NoUpdate");
  ASSERT_EQ(ui.Calls.size(), 1u);
  EXPECT_EQ(ui.Calls[0], "MessageBox:" + GetLangText(ltWizardCaption) + "|64|" + GetLangText(ltNoUpdate));
}

TEST_F(EngineTest, MissingInfoFileIsReported) {
  k->SetInfoFileURL(server->Url("/nothing-here.txt"));
  k->SetShowMessages(ShowMessagesOf({mNoInfoFile}));
  ASSERT_TRUE(RunCheckUntil("NoInfoFile"));
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|"), 1);
}

TEST_F(EngineTest, CheckOnlyAnswersWithoutAskingOrDownloading) {
  server->AddPatternFile("a.bin", 1000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  EXPECT_TRUE(k->CheckUpdates(true));
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:");
  EXPECT_TRUE(ui.Calls.empty());
  EXPECT_FALSE(FileExists(dir.File("a.bin.uTMP")));
  // The release is withdrawn: the next check finds nothing.
  PublishInfo("#date=01/01/2000\n#url1=" + server->Url("/a.bin") + "\n");
  EXPECT_FALSE(k->CheckUpdates(true));
}

TEST_F(EngineTest, DecliningInBeginUpgradeOrInTheQuestionMeansLater) {
  server->AddPatternFile("a.bin", 10);
  PublishInfo("#date=12/31/2099\n#message={Fixes.}\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  k->OnBeginUpgrade = [](TObject*, const std::string&, TztUpgradeMethod, TkvStringList&, bool& can) { can = false; };
  ASSERT_TRUE(RunCheckUntil("Later"));
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);

  events.clear();
  k->OnBeginUpgrade = nullptr;
  ui.UpgradeAnswers.push_back(false);
  ASSERT_TRUE(RunCheckUntil("Later"));
  ASSERT_EQ(ui.Count("AskUpgrade"), 1);
  EXPECT_NE(ui.Calls.back().find("\nFixes.\n"), std::string::npos) << "the message between empty lines";
  EXPECT_FALSE(FileExists(dir.File("a.bin.uTMP")));
}

TEST_F(EngineTest, CheckOnlyCallStaysCheckOnlyWhateverCallsComeDuringItsWait) {
  server->AddPatternFile("a.bin", 1000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  // The auto-check timer comes due and the user presses the check button
  // while the check-only call waits for the info file.
  k->SetOnlineProbe([] { return true; });
  k->SetAutoCheckDelay(1);
  k->SetAutoCheck(true);
  int buttonResult = -1;
  LoopBackend().Post([&] { buttonResult = k->CheckUpdates(false); });
  EXPECT_TRUE(k->CheckUpdates(true));
  k->SetAutoCheck(false);
  EXPECT_EQ(buttonResult, 0) << "the button's call started nothing";
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:") << "one check, not three";
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);
  EXPECT_EQ(ui.Count("ShowWizard"), 0);
  EXPECT_FALSE(FileExists(dir.File("a.bin.uTMP")));
  EXPECT_FALSE(k->AutoCheckFired()) << "the timer keeps its check for later";
}

TEST_F(EngineTest, AFailedUpgradeIsToldOnceAndTheAutomaticCheckPassesItOverToday) {
  server->AddPatternFile("a.bin", 1000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  // What the updater leaves after undoing the install of that release.
  ::mkdir(StateFolder().c_str(), 0700);
  WriteTextFile(StateFolder() + "failed", "kelvora-failed 1\n" + dir.File("a.bin") + "\nIs a directory\n");
  ASSERT_TRUE(WriteReleaseRecord(ReleaseRecordPath(), {k->InfoFileURL(), "#date=12/31/2099", TReleaseState::Attempted, ""}));
  k->OnUpgradeFailed = [this](TObject*, const std::string& Reason) { Record("UpgradeFailed:" + Reason); };
  k->Loaded();
  EXPECT_EQ(Events(), "UpgradeFailed:" + dir.File("a.bin") + ": Is a directory");
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" +
                     FormatLangText(ltUpgradeFailed, {dir.File("a.bin"), "Is a directory"})), 1);
  EXPECT_FALSE(FileExists(StateFolder() + "failed")) << "told once";
  events.clear();

  // The automatic check does not offer it again today; the host's own does.
  k->SetOnlineProbe([] { return true; });
  k->SetAutoCheckDelay(1);
  k->SetAutoCheck(true);
  ASSERT_TRUE(PumpUntil([&] { return Has("NoUpdate") && Idle(); }));
  k->SetAutoCheck(false);
  EXPECT_EQ(Events(), "NoUpdate");
  EXPECT_TRUE(k->CheckUpdates(true));

  // The words match what is on disk: a mix of both versions, or the previous
  // files beside a setup program's changes, is never called "kept".
  for (const auto& [outcome, slot] : {std::pair{"mixed", ltUpgradeMixed}, std::pair{"setup", ltUpgradeSetupRan}}) {
    WriteTextFile(StateFolder() + "failed", "kelvora-failed 1\n" + dir.File("a.bin") + "\nwhy\n" + outcome + "\n");
    k->Loaded();
    EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" +
                       FormatLangText(slot, {dir.File("a.bin"), "why"})), 1) << outcome;
  }
}

TEST_F(EngineTest, ReturnedCheckOnlyCallHasEndedItsTransfer) {
  PublishInfo("#version=2.0\n#url1=" + server->Url("/a.bin") + "\n");
  k->SetVersionControl(byNumber);
  k->SetVersionNumber("1.0");
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(k->CheckUpdates(true)) << "call " << i;
    EXPECT_FALSE(k->Busy()) << "call " << i;
  }
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;BeginUpgrade:0:1:;BeginUpgrade:0:1:;BeginUpgrade:0:1:;BeginUpgrade:0:1:");
}

// --- the download sequence ---

TEST_F(EngineTest, TwoFileUpgradeRunsEveryEventInOrderUpToTheUpdater) {
  static const char kStub[] = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$KV_UPDATER_RECORD.tmp\"\nmv \"$KV_UPDATER_RECORD.tmp\" \"$KV_UPDATER_RECORD\"\n";
  platform::RegisterResource("KVLOR", "KVLOR", kStub, sizeof kStub - 1);
  const std::string record = dir.File("updater-args.txt");
  ::setenv("KV_UPDATER_RECORD", record.c_str(), 1);

  server->AddPatternFile("prog.bin", 5000);
  server->AddPatternFile("doc/help.chm", 3000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n#url2=" +
              server->Url("/doc/help.chm") + "=" + dir.File("sub/help.chm") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_EQ(Events(),
            "BeginUpgrade:0:2:;FileStart:prog.bin:5000;Progress;FileDone:prog.bin.uTMP;FileStart:help.chm:3000;"
            "Progress;FileDone:help.chm.uTMP;EndUpgrade;OwnClose");
  EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 5000));
  EXPECT_TRUE(FileHoldsPattern(dir.File("sub/help.chm.uTMP"), 3000)) << "the target's folder was created";
  EXPECT_EQ(ui.Count("ShowWizard") - ui.Count("ShowWizardCompleted"), 1);
  EXPECT_EQ(ui.Count("ShowWizardCompleted"), 1);
  EXPECT_EQ(ui.Count("WizardFile:"), 2);
  EXPECT_EQ(ui.LastPercentsDone, 100);

  // The committed queue: every download with its target, in list order.
  EXPECT_EQ(ReadWholeFile(QueueFilePath()), "kelvora-queue 1\nconfirm\t30\n" + dir.File("prog.bin.uTMP") + "\t" +
                                                dir.File("prog.bin") + "\n" + dir.File("sub/help.chm.uTMP") + "\t" +
                                                dir.File("sub/help.chm") + "\nend\n");
  // The updater: the resource byte for byte, executable, started with the
  // program, " +", the restart parameters and the method digit.
  EXPECT_EQ(ReadWholeFile(UpdaterPath()), std::string(kStub, sizeof kStub - 1));
  struct stat st {};
  ASSERT_EQ(::stat(UpdaterPath().c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_EQ(ReadWholeFile(record), CurrentExeName() + "\n+/afterupgrade0\n") << "two arguments";
  platform::UnregisterResource("KVLOR", "KVLOR");
}

TEST_F(EngineTest, DecliningTheRestartLeavesTheDownloadsAndStartsNoUpdater) {
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ::unlink(QueueFilePath().c_str());
  k->OnEndUpgrade = [this](TObject*, bool& restart) {
    Record("EndUpgrade");
    restart = false;
  };
  ASSERT_TRUE(RunCheckUntil("EndUpgrade"));
  PumpUntil([] { return false; }, std::chrono::seconds(0));
  EXPECT_FALSE(Has("OwnClose"));
  EXPECT_TRUE(FileExists(dir.File("a.bin.uTMP")));
  EXPECT_NE(ReadWholeFile(QueueFilePath()).find(dir.File("a.bin")), std::string::npos)
      << "committed: the next start installs it";
}

TEST_F(EngineTest, SameSizeFilesAreSkippedOnlyWhenTheListHasMoreThanOne) {
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("b.bin", 200);
  WritePatternFile(dir.File("b.bin"), 200);  // already there with the server's size
  k->SetMiscFilesUpgrade(mfuOnlyIfSizeDifferent);
  k->Wizard().SetEnabled(false);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#url2=" +
              server->Url("/b.bin") + "=" + dir.File("b.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:2:;FileStart:a.bin:100;Progress;FileDone:a.bin.uTMP;FileStart:b.bin:200:skip;"
                      "EndUpgrade;OwnClose");
  EXPECT_FALSE(FileExists(dir.File("b.bin.uTMP")));
  EXPECT_EQ(ui.Count("ShowWizard"), 0);

  // A single item is always downloaded.
  events.clear();
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/b.bin") + "=" + dir.File("b.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_TRUE(FileExists(dir.File("b.bin.uTMP")));
}

TEST_F(EngineTest, ADownloadThisRunDidNotWriteIsNeverQueued) {
  // Left by an older build of the engine (no record of it) or put there by
  // someone else: skipping its entry must not install it.
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("b.bin", 200);
  WritePatternFile(dir.File("b.bin"), 200);
  WriteTextFile(dir.File("b.bin.uTMP"), "stale half");
  k->SetMiscFilesUpgrade(mfuOnlyIfSizeDifferent);
  k->Wizard().SetEnabled(false);
  k->OnEndUpgrade = [this](TObject*, bool& restart) {
    Record("EndUpgrade");
    restart = false;
  };
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#url2=" +
              server->Url("/b.bin") + "=" + dir.File("b.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("EndUpgrade"));
  EXPECT_TRUE(Has("FileStart:b.bin:200:skip")) << Events();
  EXPECT_EQ(ReadWholeFile(QueueFilePath()).find(dir.File("b.bin")), std::string::npos) << ReadWholeFile(QueueFilePath());
  EXPECT_FALSE(FileExists(dir.File("b.bin.uTMP")));
}

TEST_F(EngineTest, MissingFileIsSkippedOnYesAndAbortsOnNo) {
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("c.bin", 100);
  const std::string info = "#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") +
                           "\n#url2=" + server->Url("/gone.bin") + "=" + dir.File("gone.bin") + "\n#url3=" +
                           server->Url("/c.bin") + "=" + dir.File("c.bin") + "\n";
  PublishInfo(info);
  ui.MessageBoxAnswers.push_back(idYes);
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_TRUE(Has("LostFile:404"));
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltError) + " #404|4148|"), 1);
  EXPECT_TRUE(FileExists(dir.File("c.bin.uTMP")));
  // Only what was downloaded is queued.
  EXPECT_EQ(ReadWholeFile(QueueFilePath()).find(dir.File("gone.bin")), std::string::npos);
  EXPECT_NE(ReadWholeFile(QueueFilePath()).find(dir.File("c.bin")), std::string::npos);

  events.clear();
  ui.MessageBoxAnswers.push_back(idNo);
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_FALSE(Has("EndUpgrade"));
  EXPECT_TRUE(k->Aborted());
  EXPECT_EQ(ui.Count("DestroyWizard"), 1) << "the first run's wizard was closed by its button";
}

TEST_F(EngineTest, CancelledPasswordAbortsTheRunOnce) {
  server->AddPatternFile("private/a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/private/a.bin") + "=" + dir.File("a.bin") + "\n");
  // No handler supplies the login and the dialog is cancelled.
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  PumpUntil([] { return false; }, std::chrono::seconds(0));
  EXPECT_EQ(ui.Count("AskPassword:"), 1);
  int aborted = 0;
  for (const auto& e : events) aborted += e == "Aborted";
  EXPECT_EQ(aborted, 1);
  EXPECT_TRUE(Has("Password:Area 51"));
}

TEST_F(EngineTest, PasswordFromTheDialogRetriesTheRequest) {
  server->AddPatternFile("private/a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/private/a.bin") + "=" + dir.File("a.bin") + "\n");
  ui.PasswordAnswers.push_back(std::make_pair(server->Opts().User, server->Opts().Password));
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_TRUE(FileHoldsPattern(dir.File("a.bin.uTMP"), 100));
  EXPECT_EQ(k->HTTPUsername(), server->Opts().User);
}

TEST_F(EngineTest, LostConnectionStopsAndRemovesThePartialFile) {
  FaultServer faults;
  PublishInfo("#date=12/31/2099\n#url1=" + faults.Url("/truncated") + "=" +
              dir.File("big.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("ConnLost"));
  EXPECT_FALSE(FileExists(dir.File("big.bin.uTMP"))) << Events();
  EXPECT_FALSE(FileExists(dir.File("big.bin.uPART"))) << "a partial is never resumed: it goes";
  EXPECT_FALSE(k->Aborted());
  EXPECT_FALSE(Has("Aborted"));
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" + GetLangText(ltConnLost)), 1);
  EXPECT_FALSE(ui.HasWizard());
}

TEST_F(EngineTest, UnreachableHostIsReportedWithItsName) {
  k->SetInfoFileURL("http://127.0.0.1:9/info.txt");  // discard port: nothing listens
  k->SetShowMessages(ShowMessagesOf({mHostUnreachable}));
  ASSERT_TRUE(RunCheckUntil("HostUnreachable"));
  EXPECT_EQ(Events(), "HostUnreachable:127.0.0.1");
  EXPECT_EQ(ui.Count("MessageBox:"), 1);
  EXPECT_NE(ui.Calls[0].find("http://127.0.0.1"), std::string::npos);
}

TEST_F(EngineTest, TimerStartedCheckOfAnUnreachableHostRearmsSilently) {
  k->SetInfoFileURL("http://127.0.0.1:9/info.txt");
  k->SetShowMessages(ShowMessagesOf({mHostUnreachable}));
  k->SetAutoCheckDelay(20);
  k->SetOnlineProbe([] { return true; });
  k->SetAutoCheck(true);
  ASSERT_TRUE(PumpUntil([&] { return Has("HostUnreachable") && !k->Busy(); }));
  EXPECT_EQ(ui.Count("MessageBox:"), 0);
  EXPECT_FALSE(k->AutoCheckFired());
  EXPECT_TRUE(Plain().HasTimer(k.get(), 1)) << "re-armed";
  k->SetAutoCheck(false);
}

TEST_F(EngineTest, OfflineTimerStartsNoCheckAndKeepsFiring) {
  int probes = 0;
  k->SetOnlineProbe([&] { return ++probes, false; });
  k->SetAutoCheckDelay(5);
  k->SetAutoCheck(true);
  ASSERT_TRUE(PumpUntil([&] { return probes >= 3; }));
  EXPECT_TRUE(events.empty());
  EXPECT_FALSE(k->Busy());
  EXPECT_TRUE(Plain().HasTimer(k.get(), 1));
  k->SetAutoCheck(false);
}

TEST(EngineFigures, TotalPercentsCombineTheFileIndexAndTheFilesOwnShare) {
  EXPECT_EQ(TkvKelvora::TotalPercents(1, 3, 50), 49);  // 33 + 16
  EXPECT_EQ(TkvKelvora::TotalPercents(0, 1, 100), 100);
  EXPECT_EQ(TkvKelvora::TotalPercents(1, 2, 0), 50);
  EXPECT_EQ(TkvKelvora::TotalPercents(0, 0, 10), 10) << "no division by an empty list";
}

TEST_F(EngineTest, TargetsWithMacrosAndAddressOnlyEntriesLandWhereTheySay) {
  server->AddPatternFile("x.dll", 10);
  server->AddPatternFile("tool.bin", 20);
  const std::string tempFolder = GetTempFolder();
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/x.dll") + "=%TEMP%deep\\er\\x.dll\n#url2=" +
              server->Url("/tool.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_TRUE(FileHoldsPattern(tempFolder + "deep/er/x.dll.uTMP", 10)) << "macro expanded, folders made";
  EXPECT_TRUE(FileHoldsPattern(CurrentFolder() + "tool.bin.uTMP", 20)) << "no target: the program's folder";
  EXPECT_EQ(k->FileList().GetValue(0), tempFolder + "deep/er/x.dll") << "the list holds the absolute name";
  EXPECT_EQ(ReadWholeFile(QueueFilePath()), "kelvora-queue 1\nconfirm\t30\n" + tempFolder + "deep/er/x.dll.uTMP\t" + tempFolder +
                                                "deep/er/x.dll\n" + CurrentFolder() + "tool.bin.uTMP\t" +
                                                CurrentFolder() + "tool.bin\nend\n");
}

TEST_F(EngineTest, AProgramFileWithoutTargetIsTheNewBuildUnlessTheProgramItselfIsListed) {
  const std::string self = CurrentExeName();
  server->AddPatternFile("b.exe", 20);
  server->AddTextFile("a.exe", "#!/bin/sh\nexit 0\n");  // what becomes the program must be one
  WriteTextFile(QueueFilePath(), "left over\r\n");  // never committed: not an install
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/b.exe") + "\n#url2=" + server->Url("/a.exe") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  // The first program file by name replaces the program; the next keeps its name.
  EXPECT_EQ(ReadWholeFile(QueueFilePath()), "kelvora-queue 1\nconfirm\t30\n" + CurrentFolder() + "a.exe.uTMP\t" + self + "\n" +
                                                CurrentFolder() + "b.exe.uTMP\t" + CurrentFolder() + "b.exe\nend\n");
  EXPECT_TRUE(FileExists(UpdaterPath()));
}

TEST_F(EngineTest, TheRunningProgramIsAlwaysDownloaded) {
  const std::string self = CurrentExeName().substr(CurrentExeName().rfind('/') + 1);
  server->AddPatternFile(self, 64);
  server->AddPatternFile("other.bin", 64);
  WritePatternFile(dir.File(self), 64);
  WritePatternFile(dir.File("other.bin"), 64);
  k->SetMiscFilesUpgrade(mfuOnlyIfSizeDifferent);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/" + self) + "=" + dir.File(self) + "\n#url2=" +
              server->Url("/other.bin") + "=" + dir.File("other.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  EXPECT_TRUE(FileExists(dir.File(self + ".uTMP")));
  EXPECT_FALSE(FileExists(dir.File("other.bin.uTMP")));
}

TEST_F(EngineTest, ConfirmedCancelOnTheCompletionPageAbortsWithoutRestart) {
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ui.PressFinishOnCompletion = false;
  k->OnFileDone = [this](TObject*, const std::string&) {
    Record("FileDone");
    LoopBackend().Post([this] { ui.CloseWizard(true); });  // the user closes the window and confirms
  };
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_FALSE(Has("EndUpgrade"));
  EXPECT_FALSE(Has("OwnClose"));
}

TEST_F(EngineTest, QuittingOnTheCompletionPageIsACancel) {
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ui.PressFinishOnCompletion = false;
  k->OnFileDone = [this](TObject*, const std::string&) {
    Record("FileDone");
    LoopBackend().Post([] { Application().Terminate(); });  // the user quits the application
  };
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(ui.Count("ShowWizardCompleted"), 1);
  EXPECT_FALSE(Has("EndUpgrade"));
  EXPECT_FALSE(Has("OwnClose"));
  EXPECT_FALSE(FileExists(UpdaterPath()));
  EXPECT_FALSE(ui.HasWizard());
}

TEST_F(EngineTest, RestartedProgramDoesNotInstallTheReleaseItJustInstalledAgain) {
  // A host whose new build still says 1.4.0 while the info file announces 1.5.0.
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#version=1.5.0\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  k->SetVersionControl(byNumber);
  k->SetVersionNumber("1.4.0");
  k->Wizard().SetEnabled(false);
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  const std::string program = Application().ParamStr(0);

  // A hand-over whose updater never ran: a plain start still installs 1.5.0.
  events.clear();
  EXPECT_TRUE(k->CheckUpdates(true));
  // The program the updater started again: 1.5.0 is in place; from then on
  // every start knows it, with or without the restart parameter.
  for (auto args : {std::vector<std::string>{program, "/afterupgrade"}, std::vector<std::string>{program}}) {
    Application().SetArguments(args);
    TkvKelvora restarted(nullptr);
    restarted.SetUI(&ui);
    restarted.SetVersionControl(byNumber);
    restarted.SetVersionNumber("1.4.0");
    restarted.SetInfoFileURL(k->InfoFileURL());
    restarted.OnBeginUpgrade = k->OnBeginUpgrade;
    restarted.OnNoUpdateAvailable = k->OnNoUpdateAvailable;
    EXPECT_FALSE(restarted.CheckUpdates(true)) << args.size();
    // Another channel, or a later release, is a new upgrade.
    PublishInfo("#version=1.5.1\n#url1=" + server->Url("/a.bin") + "\n");
    restarted.SetInfoFileURL(k->InfoFileURL());
    EXPECT_TRUE(restarted.CheckUpdates(true)) << args.size();
    PublishInfo("#version=1.5.0\n#url1=" + server->Url("/a.bin") + "\n");
  }
  Application().SetArguments({program});
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;NoUpdate;BeginUpgrade:0:1:;NoUpdate;BeginUpgrade:0:1:");
}

TEST_F(EngineTest, RedirectOpensTheFirstEntryInTheBrowserAndDownloadsNothing) {
  // A desktop whose browser is a script that writes down what it was given.
  TempDir desktop;
  const std::string record = desktop.File("opened.txt");
  InstallRecordingBrowser(desktop, record);

  PublishInfo("#date=12/31/2099\n#method=2\n#url1=www.example.invalid/news.html\n");
  k->CheckUpdates(false);
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_EQ(ReadWholeFile(record), "http://www.example.invalid/news.html\n");
  EXPECT_EQ(Events(), "BeginUpgrade:2:1:");
  EXPECT_EQ(ui.Count("ShowWizard"), 0);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(EngineTest, AFolderTheUserMayNotChangeIsToldInsteadOfTheQuestion) {
  const std::string locked = dir.File("locked");
  ::mkdir(locked.c_str(), 0755);
  const kvtest::TScratchMount readOnly(locked, "size=64k", MS_RDONLY);
  if (!readOnly.Mounted()) GTEST_SKIP() << "needs root to mount a read-only tmpfs";
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("b.bin", 100);
  // The target's folder does not exist yet: the deepest part that does is
  // the one tried.
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#url2=" +
              server->Url("/b.bin") + "=" + locked + "/sub/b.bin\n");
  const std::string told = "MessageBox:" + GetLangText(ltWizardCaption) + "|16|" +
                           FormatLangText(ltCannotUpgradeHere, {ProgramTitle(), locked + "/"});
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:2:;Aborted");
  EXPECT_EQ(ui.Count(told), 1) << "told before, and instead of, the question";
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);
  EXPECT_EQ(k->LastFailure(), FormatLangText(ltCannotUpgradeHere, {ProgramTitle(), locked + "/"}));
  EXPECT_FALSE(FileExists(dir.File("a.bin.uPART")));

  // Asked again, told again: nothing was left behind that would change it.
  events.clear();
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(ui.Count(told), 2);
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);
}

TEST_F(EngineTest, AProgramAPackageOwnsIsLeftToThePackageManager) {
  // A private dpkg database, read by the real dpkg-query, that says a
  // package installed this very program.
  TempDir admin;
  for (const char* sub : {"info", "updates", "triggers"}) ::mkdir(admin.File(sub).c_str(), 0755);
  WriteTextFile(admin.File("status"),
                "Package: kv-test-app\nStatus: install ok installed\nPriority: optional\nSection: misc\n"
                "Installed-Size: 1\nMaintainer: Test <test@example.org>\nArchitecture: all\nVersion: 1.0\n"
                "Description: a program under test\n\n");
  WriteTextFile(admin.File("info/kv-test-app.list"), CurrentExeName() + "\n");
  ::setenv("DPKG_ADMINDIR", admin.Path().c_str(), 1);
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  const std::string told = "MessageBox:" + GetLangText(ltWizardCaption) + "|64|" +
                           FormatLangText(ltPackageManaged, {ProgramTitle(), "kv-test-app"});
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;Aborted");
  EXPECT_EQ(ui.Count(told), 1);
  EXPECT_EQ(ui.Count("AskUpgrade"), 0);
  EXPECT_EQ(k->OwnedByPackage(), "kv-test-app");
  EXPECT_FALSE(FileExists(dir.File("a.bin.uPART")));

  // The host may turn the check off, or name the owner itself (an MSI
  // product on Windows).
  events.clear();
  k->SetPackageCheck(false);
  ui.UpgradeAnswers.push_back(false);
  ASSERT_TRUE(RunCheckUntil("Later"));
  EXPECT_EQ(ui.Count("AskUpgrade"), 1) << "asked as any program";
  EXPECT_EQ(k->OwnedByPackage(), "");
  ::unsetenv("DPKG_ADMINDIR");
  events.clear();
  k->SetPackageOwner("Example Product");
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|64|" +
                     FormatLangText(ltPackageManaged, {ProgramTitle(), "Example Product"})), 1);
}

TEST_F(EngineTest, OversizedInfoFileCountsAsMissing) {
  std::string huge(static_cast<size_t>(TkvKelvora::kMaxInfoFileSize) + 10, ' ');
  huge.replace(0, 30, "#date=12/31/2099\n#url1=http:/");
  k->SetShowMessages(0);
  PublishInfo(huge);
  ASSERT_TRUE(RunCheckUntil("NoInfoFile"));
  EXPECT_FALSE(Has("BeginUpgrade"));

  // The same without a Content-Length: the body is cut off once it is too
  // large, and a waiting check returns.
  FaultServer faults;
  events.clear();
  k->SetInfoFileURL(faults.Url("/nolength?n=" + std::to_string(TkvKelvora::kMaxInfoFileSize + 100000)));
  EXPECT_FALSE(k->CheckUpdates(true));
  EXPECT_EQ(Events(), "NoInfoFile");
  ASSERT_TRUE(PumpUntil([&] { return !k->Busy(); }));
}

TEST_F(EngineTest, ConstructionDeletesALeftOverUpdaterProgram) {
  WriteTextFile(UpdaterPath(), "old updater");
  TkvKelvora fresh(nullptr);
  EXPECT_FALSE(FileExists(UpdaterPath()));
}

TEST_F(EngineTest, WizardLanguageSwitchesEveryTextAndAutoDetectsAgain) {
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);
  k->Wizard().SetLanguage(wlFrench);
  EXPECT_EQ(LanguageBaseId(), LanguageBlockId(wlFrench));
  EXPECT_EQ(GetLangText(ltNoUpdate), GetResourceText(LangTextId(wlFrench, ltNoUpdate)));
  k->Wizard().SetLanguage(wlAuto);
  EXPECT_EQ(LanguageBaseId(), LanguageBlockId(wlGerman)) << "detected from the locale";
  ::unsetenv("LC_ALL");
  SelectLanguage(wlEnglish);
}

// --- failures that must never look like success ---

TEST_F(EngineTest, AFullDiskIsAWriteErrorThatRemovesTheRunsFiles) {
  const std::string small = dir.File("small");
  ::mkdir(small.c_str(), 0755);
  const kvtest::TScratchMount disk(small, "size=64k");
  if (!disk.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("big.bin", 1000000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#url2=" +
              server->Url("/big.bin") + "=" + small + "/big.bin\n");
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_FALSE(Has("ConnLost")) << Events();
  EXPECT_FALSE(Has("EndUpgrade"));
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" +
                     FormatLangText(ltDiskFull, {small + "/big.bin"})), 1);
  for (const std::string& f : {dir.File("a.bin.uTMP"), small + "/big.bin.uPART", QueueFilePath()})
    EXPECT_FALSE(FileExists(f)) << f;
}

TEST_F(EngineTest, AnUpdaterThatCannotStartLeavesTheApplicationRunningWithNothingStaged) {
  static const char kNotAProgram[] = "neither ELF nor script";
  platform::RegisterResource("KVLOR", "KVLOR", kNotAProgram, sizeof kNotAProgram - 1);
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("Aborted"));
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;FileStart:a.bin:100;Progress;FileDone:a.bin.uTMP;EndUpgrade;Aborted");
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" + GetLangText(ltUpdaterFailed)), 1);
  EXPECT_FALSE(Application().Terminated());
  EXPECT_FALSE(FileExists(dir.File("a.bin.uTMP")));
  EXPECT_FALSE(FileExists(QueueFilePath()));
  EXPECT_FALSE(FileExists(UpdaterPath())) << "a file that cannot run is not left behind";
  EXPECT_FALSE(FileExists(ReleaseRecordPath())) << "nothing was attempted: the release stays on offer";
}

TEST_F(EngineTest, ALinkPlantedAtAPartNameLeadsTheDownloadNowhereElse) {
  // Whoever else can write the target's folder puts links where the run's
  // part files go: the downloads are new files of their own all the same.
  const std::string victim = dir.File("victim.txt");
  WriteTextFile(victim, "untouched");
  ASSERT_EQ(::symlink(victim.c_str(), dir.File("a.bin.uPART").c_str()), 0);
  ASSERT_EQ(::link(victim.c_str(), dir.File("b.bin.uPART").c_str()), 0);
  server->AddPatternFile("a.bin", 100);
  server->AddPatternFile("b.bin", 200);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n#url2=" +
              server->Url("/b.bin") + "=" + dir.File("b.bin") + "\n");
  k->OnEndUpgrade = [this](TObject*, bool& restart) {
    Record("EndUpgrade");
    restart = false;
  };
  const bool ended = RunCheckUntil("EndUpgrade");
  EXPECT_EQ(ReadWholeFile(victim), "untouched");
  ASSERT_TRUE(ended) << Events();
  struct stat st {};
  for (const char* name : {"a.bin.uTMP", "b.bin.uTMP"}) {
    ASSERT_EQ(::lstat(dir.File(name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << name;
  }
  EXPECT_TRUE(FileHoldsPattern(dir.File("b.bin.uTMP"), 200));
}

TEST_F(EngineTest, TwoProgramsEachWriteAndStartAnUpdaterOfTheirOwn) {
  // Another program of the same user (another path) has written its updater
  // into the same temporary folder, and it still runs: it waits there, as
  // for its program's confirmation, until told to end.
  const std::string other = "/opt/other program/other";
  const std::string release = dir.File("release-other");
  const std::string otherScript = "#!/bin/sh\nn=0\nwhile [ ! -e '" + release +
                                  "' ] && [ $n -lt 600 ]; do sleep 0.1; n=$((n+1)); done\necho done > '" + release +
                                  ".ran'\n";
  detail::TUpdaterFile otherFile;
  ASSERT_NE(detail::UpdaterFileName(other), detail::UpdaterFileName(CurrentExeName()));
  ASSERT_TRUE(detail::WriteUpdaterFile(GetTempFolder(), detail::UpdaterFileName(other), otherScript, otherFile));
  ASSERT_GT(detail::StartUpdater(otherFile, {otherFile.Path}, -1), 0);
  struct stat before {};
  ASSERT_EQ(::stat(otherFile.Path.c_str(), &before), 0);

  // This program starts (removing its own left-overs), writes and starts
  // its updater meanwhile.
  // The record appears whole (written beside, then renamed): the test reads it once it exists.
  static const char kStub[] =
      "#!/bin/sh\necho \"$0\" > \"$KV_UPDATER_RECORD.tmp\"\nmv \"$KV_UPDATER_RECORD.tmp\" \"$KV_UPDATER_RECORD\"\n";
  platform::RegisterResource("KVLOR", "KVLOR", kStub, sizeof kStub - 1);
  const std::string record = dir.File("ran.txt");
  ::setenv("KV_UPDATER_RECORD", record.c_str(), 1);
  WriteTextFile(UpdaterPath(), "this program's left-over");
  k = std::make_unique<TkvKelvora>(nullptr);
  k->SetUI(&ui);
  k->SetVersionDate("01/01/2001");
  k->OnDoOwnCloseAppMethod = [this](TObject*) { Record("OwnClose"); };
  EXPECT_FALSE(FileExists(UpdaterPath())) << "its own left-over goes";
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_NE(ReadWholeFile(record).find(detail::UpdaterFileName(CurrentExeName())), std::string::npos);

  // The other program's updater was never touched, and still ends well.
  struct stat after {};
  ASSERT_EQ(::stat(otherFile.Path.c_str(), &after), 0) << "the other program's updater is still there";
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadWholeFile(otherFile.Path), otherScript);
  WriteTextFile(release, "go");
  EXPECT_TRUE(PumpUntil([&] { return FileExists(release + ".ran"); }));
  detail::RemoveUpdaterFile(otherFile);
  platform::UnregisterResource("KVLOR", "KVLOR");
}

TEST_F(EngineTest, TheUpdaterIsANewFileInAFolderOfItsOwn) {
  // The record appears whole (written beside, then renamed): the test reads it once it exists.
  static const char kStub[] =
      "#!/bin/sh\necho \"$0\" > \"$KV_UPDATER_RECORD.tmp\"\nmv \"$KV_UPDATER_RECORD.tmp\" \"$KV_UPDATER_RECORD\"\n";
  platform::RegisterResource("KVLOR", "KVLOR", kStub, sizeof kStub - 1);
  const std::string record = dir.File("ran.txt");
  ::setenv("KV_UPDATER_RECORD", record.c_str(), 1);
  // A link where the updater goes must not lead the write elsewhere.
  const std::string victim = dir.File("victim.txt");
  WriteTextFile(victim, "untouched");
  ::unlink(UpdaterPath().c_str());
  ASSERT_EQ(::symlink(victim.c_str(), UpdaterPath().c_str()), 0);
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose"));
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_EQ(ReadWholeFile(victim), "untouched");
  // Started by descriptor, in the folder checked; a script reads itself by that name.
  EXPECT_EQ(ReadWholeFile(record), "/proc/self/fd/4/" + detail::UpdaterFileName(CurrentExeName()) + "\n");

  // A temporary folder somebody else could have put there (not private):
  // its read-only file under the updater's name is never run; the updater
  // goes elsewhere.
  ClearState();
  const std::string saved = std::getenv("TMPDIR");
  const std::string planted = dir.File("planted");
  ::mkdir(planted.c_str(), 0755);
  static const char kPlanted[] = "#!/bin/sh\ntouch \"$KV_UPDATER_RECORD.planted\"\n";
  const std::string plantedUpdater = planted + "/" + detail::UpdaterFileName(CurrentExeName());
  WriteTextFile(plantedUpdater, kPlanted);
  ::chmod(plantedUpdater.c_str(), 0555);
  ::setenv("TMPDIR", planted.c_str(), 1);
  ::unlink(record.c_str());
  events.clear();
  const bool done = RunCheckUntil("OwnClose");
  ::setenv("TMPDIR", saved.c_str(), 1);
  ASSERT_TRUE(done);
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_EQ(ReadWholeFile(record).find(planted), std::string::npos) << ReadWholeFile(record);
  EXPECT_FALSE(FileExists(record + ".planted"));
  platform::UnregisterResource("KVLOR", "KVLOR");
}

TEST_F(EngineTest, DeclinedRestartKeepsItsDownloadsFromASecondInstanceUntilTheFirstLetsGo) {
  server->AddPatternFile("data.bin", 3000);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/data.bin") + "=" + dir.File("data.bin") + "\n");
  k->OnEndUpgrade = [this](TObject*, bool& RestartNow) {
    RestartNow = false;
    Record("EndUpgrade");
  };
  ASSERT_TRUE(RunCheckUntil("EndUpgrade")) << Events();
  EXPECT_TRUE(FileHoldsPattern(dir.File("data.bin.uTMP"), 3000));
  // A second instance starting meanwhile leaves the first one's upgrade alone.
  { TkvKelvora second(nullptr); }
  EXPECT_TRUE(FileHoldsPattern(dir.File("data.bin.uTMP"), 3000));
  EXPECT_FALSE(FileExists(dir.File("data.bin")));
  // Once the first has gone, the next start drops what no updater began:
  // nothing is installed without an updater to see it through.
  k.reset();
  { TkvKelvora next(nullptr); }
  EXPECT_FALSE(FileExists(dir.File("data.bin")));
  EXPECT_FALSE(FileExists(dir.File("data.bin.uTMP")));
}
