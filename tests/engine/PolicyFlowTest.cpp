// The administrator's policy file, read at each check through the front
// door, against nginx: what it refuses never reaches the server.
#include <sys/stat.h>

#include <cstdlib>

#include "engine/EngineFixture.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Updater.h"

using namespace kelvora;
using namespace kvtest;

namespace {

bool AnyNoteHas(const std::vector<std::string>& Notes, const std::string& A, const std::string& B) {
  for (const std::string& n : Notes)
    if (n.find(A) != std::string::npos && n.find(B) != std::string::npos) return true;
  return false;
}

size_t Lines(const std::string& Text) { return static_cast<size_t>(std::count(Text.begin(), Text.end(), '\n')); }

}  // namespace

TEST_F(EngineTest, AdminPolicyFileDecidesWhatEachCheckMayDo) {
  TempDir etc;
  ::setenv("KELVORA_POLICY_DIR", etc.Path().c_str(), 1);
  const std::string policyFile = etc.File("kvmanaged.json");
  const auto setPolicy = [&](const std::string& Json, mode_t Mode = 0644) {
    WriteTextFile(policyFile, Json);
    ::chmod(policyFile.c_str(), Mode);
  };
  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });
  server->AddPatternFile("prog.bin", 3000);
  server->AddTextFile("info.txt", "#version=1.5.0\n#url1=" + server->Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n");
  server->AddTextFile("managed.txt", "#version=1.4.0\n");
  Updater updater({.infoAddress = server->Url("/info.txt"), .version = "1.4.0", .product = "kvmanaged"});
  updater.component().SetUI(&ui);
  std::vector<Result> results;
  updater.onFinished([&](const Result& R) { results.push_back(R); });
  const auto check = [&](bool Person) {
    const size_t before = results.size();
    Person ? updater.checkNow() : updater.checkQuietly();
    EXPECT_TRUE(PumpUntil([&] { return results.size() > before && !updater.component().Busy(); }));
    EXPECT_EQ(results.size(), before + 1);
    return results.empty() ? Result{} : results.back();
  };
  const std::string managed = GetLangText(ltManagedByOrganisation);

  {
    SCOPED_TRACE("updates off: no check of either kind asks the server anything");
    setPolicy(R"({"UpdatesEnabled": false})");
    const size_t requests = Lines(server->AccessLog());
    const int boxes = ui.Count("MessageBox:");
    Result r = check(true);
    EXPECT_EQ(r.outcome, Outcome::RefusedByPolicy);
    EXPECT_STREQ(OutcomeName(r.outcome), "refused by policy");
    EXPECT_NE(r.reason.find("turns updates off"), std::string::npos) << r.reason;
    ASSERT_EQ(ui.Count("MessageBox:"), boxes + 1) << "the person who asked is told";
    EXPECT_NE(ui.Calls.back().find(managed), std::string::npos) << ui.Calls.back();
    EXPECT_EQ(check(false).outcome, Outcome::RefusedByPolicy);
    EXPECT_EQ(ui.Count("MessageBox:"), boxes + 1) << "a check by itself stays quiet";
    EXPECT_EQ(Lines(server->AccessLog()), requests);
    EXPECT_TRUE(updater.component().ManagedByPolicy());
  }
  {
    SCOPED_TRACE("automatic checks off, a person's allowed (registry-style 0/1)");
    setPolicy(R"({"AutomaticChecks": 0, "UserChecks": 1, "Channel": "beta"})");
    const size_t requests = Lines(server->AccessLog());
    EXPECT_EQ(check(false).outcome, Outcome::RefusedByPolicy);
    EXPECT_EQ(Lines(server->AccessLog()), requests);
    ui.UpgradeAnswers.push_back(false);
    const Result r = check(true);
    EXPECT_EQ(r.outcome, Outcome::Later);
    EXPECT_EQ(r.offeredVersion, "1.5.0");
    EXPECT_EQ(updater.component().PolicyChannel(), "beta");
  }
  {
    SCOPED_TRACE("a version prefix keeps the program on its line");
    setPolicy(R"({"VersionPrefix": "1.4"})");
    EXPECT_EQ(check(true).outcome, Outcome::UpToDate);
    setPolicy(R"({"VersionPrefix": "1.5"})");
    ui.UpgradeAnswers.push_back(false);
    EXPECT_EQ(check(true).outcome, Outcome::Later);
  }
  {
    SCOPED_TRACE("the policy's info address replaces the host's");
    setPolicy(R"({"InfoAddress": ")" + server->Url("/managed.txt") + R"("})");
    const Result r = check(true);
    EXPECT_EQ(r.outcome, Outcome::UpToDate);
    EXPECT_EQ(r.offeredVersion, "1.4.0");
    const std::string log = server->AccessLog();
    EXPECT_NE(log.substr(log.rfind('\n', log.size() - 2) + 1).find("/managed.txt"), std::string::npos) << log;
  }
  {
    SCOPED_TRACE("malformed values are named and left out; the rest applies");
    notes.clear();
    setPolicy(R"({"UpdatesEnabled": "no", "CheckInterval": "daily", "Colour": 1, "InfoAddress": "file:///etc/x",
                  "VersionPrefix": "1.4", "MaySkip": [true]})");
    EXPECT_EQ(check(true).outcome, Outcome::UpToDate);
    for (const char* name : {"UpdatesEnabled", "CheckInterval", "Colour", "InfoAddress", "MaySkip"})
      EXPECT_TRUE(AnyNoteHas(notes, policyFile, name)) << name;
    notes.clear();
    setPolicy("{\"UpdatesEnabled\": false");  // cut short
    ui.UpgradeAnswers.push_back(false);
    EXPECT_EQ(check(true).outcome, Outcome::Later);
    EXPECT_TRUE(AnyNoteHas(notes, policyFile, "not a JSON object"));
  }
  {
    SCOPED_TRACE("a file other users may write is not the administrator's");
    notes.clear();
    setPolicy(R"({"UpdatesEnabled": false})", 0666);
    ui.UpgradeAnswers.push_back(false);
    EXPECT_EQ(check(true).outcome, Outcome::Later);
    EXPECT_TRUE(AnyNoteHas(notes, policyFile, "writable by other users"));
  }
  {
    SCOPED_TRACE("a person may not skip: no question, a notice, and the download starts");
    setPolicy(R"({"MaySkip": false})");
    bool downloading = false;
    updater.component().OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool& Go) {
      downloading = true;
      Go = false;  // enough seen; nothing is installed
    };
    const int asked = ui.Count("AskUpgrade:");
    const int boxes = ui.Count("MessageBox:");
    check(true);
    EXPECT_TRUE(downloading);
    EXPECT_EQ(ui.Count("AskUpgrade:"), asked);
    ASSERT_GT(ui.Count("MessageBox:"), boxes);
    EXPECT_EQ(std::count_if(ui.Calls.begin(), ui.Calls.end(),
                            [&](const std::string& C) { return C.rfind("MessageBox:", 0) == 0 && C.find(managed) != std::string::npos; }),
              2);
    updater.component().OnFileStart = nullptr;
  }
  ::unsetenv("KELVORA_POLICY_DIR");
  SetDeveloperLog(nullptr);
}
