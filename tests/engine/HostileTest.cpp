// The engine against a hostile local user and a hostile server: a link at
// the state folder, targets inside it, an entry that would become the
// program without being it, an HTML page served as the program, file keys
// the list would leave out, an error answer for a hashed file, a running
// upgrade of another instance.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "engine/EngineFixture.h"
#include "kelvora/StateFolder.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/Crypto.h"
#include "updater/Transaction.h"

using namespace kelvora;

namespace kvtest {
namespace {

class HostileTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Record("Refused:" + Reason); };
  }
  std::string Refusal() const {
    for (const auto& e : events)
      if (e.rfind("Refused:", 0) == 0) return e.substr(8);
    return {};
  }
  std::string State() const {
    std::string s = StateFolder();
    s.pop_back();
    return s;
  }
  std::string ProgramName() const { return CurrentExeName().substr(CurrentFolder().size()); }
};

// The real state folder moved aside while a case plants something at its name.
struct StateAside {
  std::string state, aside;
  explicit StateAside(const std::string& State) : state(State), aside(State + ".aside") {
    ::rename(state.c_str(), aside.c_str());
  }
  ~StateAside() {
    if (::unlink(state.c_str()) != 0) ::rmdir(state.c_str());
    ::rename(aside.c_str(), state.c_str());
  }
};

TEST_F(HostileTest, TheStateFolderIsTrustedOnlyAsARealFolderOfTheUsersOwn) {
  server->AddPatternFile("a.bin", 10);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  // A link planted at its name (as in a shared sticky folder) leads nowhere:
  // neither the run nor a start deletes or makes anything in its target.
  const std::string decoy = dir.File("decoy");
  ::mkdir(decoy.c_str(), 0700);
  WriteTextFile(decoy + "/queue", "kelvora-queue 1\nend\n");
  WriteTextFile(decoy + "/staging", dir.File("victim.uTMP") + "\n");
  WriteTextFile(decoy + "/AppUpdate.exe", "somebody's");
  WriteTextFile(dir.File("victim.uTMP"), "keep");
  {
    StateAside aside(State());
    ASSERT_EQ(::symlink(decoy.c_str(), State().c_str()), 0);
    TkvKelvora starting(nullptr);  // the start's recovery
    ASSERT_TRUE(RunCheckUntil("Aborted"));
    EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" +
                       FormatLangText(ltCannotWrite, {StateFolder()})), 1) << "the state folder is named";
    EXPECT_FALSE(Has("FileStart"));
    EXPECT_TRUE(FileExists(decoy + "/queue"));
    EXPECT_TRUE(FileExists(decoy + "/staging"));
    EXPECT_FALSE(FileExists(decoy + "/lock"));
    EXPECT_TRUE(FileExists(decoy + "/AppUpdate.exe"));
    EXPECT_EQ(ReadWholeFile(dir.File("victim.uTMP")), "keep");
  }
  // A real folder that others may write to is not trusted either.
  {
    StateAside aside(State());
    ASSERT_EQ(::mkdir(State().c_str(), 0700), 0);
    ::chmod(State().c_str(), 0777);
    events.clear();
    ASSERT_TRUE(RunCheckUntil("Aborted"));
    EXPECT_FALSE(Has("FileStart"));
    EXPECT_FALSE(FileExists(StateFolder() + "lock"));
  }
}

TEST_F(HostileTest, DownloadsStayTheUsersAloneUntilTheUpdaterSettlesThem) {
  server->AddPatternFile("a.bin", 100);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  ::chmod(dir.Path().c_str(), 02775);  // a folder the group shares, and a umask that shares too
  const mode_t saved = ::umask(002);
  mode_t partMode = 0;
  k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool&) {
    struct stat st {};
    if (::lstat(dir.File("a.bin.uPART").c_str(), &st) == 0) partMode = st.st_mode & 07777;
  };
  k->OnEndUpgrade = [this](TObject*, bool& Restart) {
    Record("EndUpgrade");
    Restart = false;
  };
  const bool ended = RunCheckUntil("EndUpgrade");
  ::umask(saved);
  ASSERT_TRUE(ended) << Events();
  EXPECT_EQ(partMode, 0600u);
  struct stat st {};
  ASSERT_EQ(::lstat(dir.File("a.bin.uTMP").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(HostileTest, TargetsInsideTheStateFolderAreRefusedBeforeAnyDownload) {
  server->AddTextFile("r.txt", "kelvora-release 1\nconfirmed\nx\ny\n");
  const std::string linkToState = dir.File("to-state");
  ASSERT_EQ(::symlink(StateFolder().c_str(), linkToState.c_str()), 0);
  for (const std::string& target :
       {"%current%." + ProgramName() + ".kelvora/installed-release", "%current%." + ProgramName() + ".kelvora",
        "%current%sub/../." + ProgramName() + ".kelvora/./queue", linkToState + "/queue",
        linkToState + "/made/by/the/run/x"}) {
    SCOPED_TRACE(target);
    events.clear();
    PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/r.txt") + "=" + target + "\n");
    ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
    EXPECT_NE(Refusal().find("folder of the upgrade's own records"), std::string::npos) << Events();
    EXPECT_FALSE(Has("FileStart"));
    EXPECT_FALSE(FileExists(StateFolder() + "installed-release.uPART"));
    EXPECT_FALSE(FileExists(StateFolder() + "queue"));
    EXPECT_TRUE(FileExists(StateFolder())) << "the folder itself stays";
    EXPECT_FALSE(FileExists(StateFolder() + "made")) << "no folder made in it";
  }
}

TEST_F(HostileTest, OnlyTheProgramsOwnEntryBecomesTheProgramAndOnlyAsAProgram) {
  const std::string self = CurrentExeName();
  server->AddTextFile("new-build", "#!/bin/sh\nexit 0\n");
  server->AddPatternFile("tool.exe", 20);
  // The program listed with its own target: a tool.exe without target keeps its name.
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/tool.exe") + "\n#url2=" + server->Url("/new-build") +
              "=%current%" + ProgramName() + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_EQ(ReadWholeFile(QueueFilePath()), "kelvora-queue 1\nconfirm\t30\n" + self + ".uTMP\t" + self + "\n" + CurrentFolder() +
                                                "tool.exe.uTMP\t" + CurrentFolder() + "tool.exe\nend\n");
  ClearState();

  // A captive portal answers the program's address with its page and 200.
  server->AddTextFile("portal.exe", "<!DOCTYPE html><html><body>Sign in to the hotel network</body></html>\n");
  events.clear();
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/portal.exe") + "\n");
  ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
  EXPECT_NE(Refusal().find("not a program"), std::string::npos) << Events();
  EXPECT_FALSE(Has("OwnClose"));
  EXPECT_FALSE(FileExists(QueueFilePath()));
  EXPECT_FALSE(FileExists(CurrentFolder() + "portal.exe.uTMP"));
}

TEST_F(HostileTest, EveryFileKeyIsReadOrTheInfoFileIsRefused) {
  server->AddPatternFile("a.bin", 10);
  const std::string a = server->Url("/a.bin") + "=" + dir.File("a.bin");
  for (const std::string& keys : {"#url=" + a + "\n#url1=" + a + "1\n#url2=" + a + "2\n",
                                  "#url1=" + a + "\n#url3=" + a + "3\n", "#url1=" + a + "\n#url01=" + a + "1\n"}) {
    SCOPED_TRACE(keys);
    events.clear();
    PublishInfo("#date=12/31/2099\n" + keys);
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }));
    k->CheckUpdates(false);
    ASSERT_TRUE(PumpUntil([&] { return Has("Refused") && Idle(); })) << Events();
    EXPECT_NE(Refusal().find("is not read"), std::string::npos) << Refusal();
    EXPECT_FALSE(Has("BeginUpgrade"));
    EXPECT_FALSE(Has("FileStart"));
  }
  // The same entry twice under two keys is no entry left out.
  events.clear();
  PublishInfo("#date=12/31/2099\n#url1=" + a + "\n#url2=" + a + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
}

TEST_F(HostileTest, AnErrorAnswerForAHashedFileIsALostFileNotARefusal) {
  server->AddPatternFile("a.bin", 100);
  const std::string hash = trust::Sha256Hex("the real file");
  // Listed with a hash and a size of its own; the server answers 404 with its short page.
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/missing.bin") + "=" + dir.File("m.bin") +
              "\n#hash1=sha256:" + hash + " 35905359\n");
  ui.DefaultMessageAnswer = idNo;
  ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
  EXPECT_TRUE(Has("LostFile:404")) << Events();
  EXPECT_FALSE(Has("Refused")) << Events();
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltError) + " #404|" +
                     std::to_string(mbYesNo | mbIconExclamation | mbSystemModal) + "|" +
                     FormatLangText(ltLostFile, {"missing.bin"})), 1);
  EXPECT_FALSE(FileExists(dir.File("m.bin.uPART")));
}

TEST_F(HostileTest, ASecondInstanceLearnsOfARunningUpgradeBeforeItIsAsked) {
  server->AddPatternFile("a.bin", 10);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + dir.File("a.bin") + "\n");
  // Another instance holds the upgrade lock (another open of the lock file
  // conflicts as another process would).
  const int held = updater::OpenLock(StateFolder(), true);
  ASSERT_GE(held, 0);
  ASSERT_TRUE(updater::TryLock(held));
  k->CheckUpdates(false);
  const bool ended = PumpUntil([&] { return Has("Aborted") && Idle(); });
  ::close(held);
  ASSERT_TRUE(ended) << Events();
  std::string calls;
  for (const auto& c : ui.Calls) calls += c + "\n";
  EXPECT_EQ(ui.Count("AskUpgrade:"), 0) << calls;
  EXPECT_EQ(ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" + GetLangText(ltUpgradeBusy)), 1);
  EXPECT_FALSE(Has("FileStart"));
  // Once it has gone, the question comes as usual.
  events.clear();
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
}

}  // namespace
}  // namespace kvtest
