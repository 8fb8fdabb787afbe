// Downloads continued across runs: a download cut short resumes in the next
// run with only the rest, guarded by If-Range; a changed release, a part
// changed or planted between runs, and a server that answers the range with
// the whole file never end in a wrong install.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "engine/EngineFixture.h"
#include "kelvora/StateFolder.h"
#include "kelvora/trust/Crypto.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {

constexpr int64_t kSize = 1000000;
// nginx sends a request without a range slowly past this point. Its rate
// limit grants what the first bytes took in time at once, so the slow
// stretch is long enough for a slow (sanitized) client to cancel within it;
// a continued part (a range) comes at full speed.
constexpr int64_t kSlowAfter = 600000;

std::string HashLine(const std::string& Content) {
  return "sha256:" + trust::Sha256Hex(Content) + " " + std::to_string(Content.size());
}

// The lines of nginx's access log that fetched Path.
std::vector<std::string> Fetches(const Nginx& Server, const std::string& Path) {
  std::vector<std::string> out;
  std::istringstream log(Server.AccessLog());
  for (std::string line; std::getline(log, line);)
    if (line.rfind("GET " + Path + " ", 0) == 0) out.push_back(line.substr(line.find(" HTTP/1.1 ") + 10));
  return out;
}

// The fault server's log entries for Target: request headers and the body
// bytes sent, as JSON lines.
std::vector<std::string> FaultLog(const FaultServer& Server, const std::string& Target) {
  TkvCustomHTTP h(nullptr);
  std::string log;
  h.OnDone = [&](TObject*, const std::string&, int64_t, TStream* D) { log = dynamic_cast<TMemoryStream*>(D)->ToString(); };
  h.SetURL(Server.Url("/_log"));
  h.Read(true);
  std::vector<std::string> out;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if (line.find("\"target\": \"" + Target + "\"") != std::string::npos) out.push_back(line);
  return out;
}

}  // namespace

class ResumeTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Nginx::Options opts;
    opts.ExtraServer = "    location /slow/ { limit_rate_after " + std::to_string(kSlowAfter) +
                       "; if ($http_range = \"\") { set $limit_rate 64k; } }\n";
    server = std::make_unique<Nginx>(opts);
    NewStart();
  }
  // The program started anew: a fresh component, whose construction settles
  // what the last run left.
  void NewStart() {
    k.reset();
    events.clear();
    k = std::make_unique<TkvKelvora>(nullptr);
    k->SetUI(&ui);
    k->SetVersionDate("01/01/2001");
    k->OnConnLost = [this](TObject*) { Record("ConnLost"); };
    k->OnAborted = [this](TObject*) { Record("Aborted"); };
    k->OnDoOwnCloseAppMethod = [this](TObject*) { Record("OwnClose"); };
    k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Record("Refused:" + Reason); };
    k->OnFileStart = [this](TObject*, const std::string&, int64_t, const TDateTime&, bool&) { Record("FileStart"); };
    k->OnProgress = [this](TObject*, const std::string&, int64_t, int64_t Read, int32_t, int32_t, uint8_t, uint8_t,
                           float) { lastRead = Read; };
  }
  // One release of one file, listed with the hash of Content.
  void Publish(const std::string& Url, const std::string& Content) {
    PublishInfo("#date=12/31/2099\n#url1=" + Url + "=" + target + "\n#hash1=" + HashLine(Content) + "\n");
  }
  // The user cancels once 90 % of /slow/a.bin has arrived.
  void CancelInTheSlowStretch() {
    lastRead = 0;
    k->CheckUpdates(false);
    bool cancelled = false;
    ASSERT_TRUE(PumpUntil([&] {
      if (!cancelled && lastRead >= kSlowAfter) {
        cancelled = true;
        k->AbortUpgrade();
      }
      return Has("Aborted") && !k->Busy();
    })) << Events();
    ASSERT_LT(PartSize(), kSize) << "cancelled before the end";
  }
  int64_t PartSize() const {
    struct stat st {};
    return ::lstat((target + ".uPART").c_str(), &st) == 0 ? st.st_size : -1;
  }

  std::string target = dir.File("a.bin");
  int64_t lastRead = 0;
};

TEST_F(ResumeTest, ACutDownloadContinuesInTheNextRunWithOnlyTheRest) {
  FaultServer faults;
  const std::string path = "/p/bytes/n:400000/etag:v1/cut:360000";
  Publish(faults.Url(path), PatternBytes(0, 400000));
  ASSERT_TRUE(RunCheckUntil("ConnLost")) << Events() << faults.Log();
  EXPECT_EQ(PartSize(), 360000) << Events();
  EXPECT_FALSE(FileExists(target + ".uTMP"));

  NewStart();  // the recovery at start keeps a part its release may continue
  EXPECT_EQ(PartSize(), 360000);
  Publish(faults.Url(path), PatternBytes(0, 400000));
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_FALSE(Has("Refused")) << Events();
  EXPECT_TRUE(FileHoldsPattern(target + ".uTMP", 400000));
  const auto log = FaultLog(faults, path);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[1].find("[\"RANGE\", \"bytes=360000-\"]"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("[\"If-Range\", \"\\\"v1\\\"\"]"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("\"sent\": 40000}"), std::string::npos) << "only the rest: " << log[1];
  EXPECT_FALSE(FileExists(StateFolder() + "resume")) << "nothing is left to continue once committed";
}

TEST_F(ResumeTest, AChangedReleaseNeverContinuesTheOldPart) {
  server->AddPatternFile("slow/a.bin", kSize);
  Publish(server->Url("/slow/a.bin"), PatternBytes(0, kSize));
  CancelInTheSlowStretch();
  ASSERT_GT(PartSize(), kSize / 2) << "the user's cancel keeps the part";

  NewStart();
  const std::string next(300000, 'n');
  server->AddTextFile("slow/a.bin", next);
  Publish(server->Url("/slow/a.bin"), next);
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_EQ(ReadWholeFile(target + ".uTMP"), next);
  const auto fetches = Fetches(*server, "/slow/a.bin");
  ASSERT_EQ(fetches.size(), 2u);
  EXPECT_EQ(fetches[1], "200 300000 range=- if_range=-") << "asked whole, no range";
}

TEST_F(ResumeTest, APartChangedBetweenRunsIsFetchedAgainWholeAndInstalledRight) {
  server->AddPatternFile("slow/a.bin", kSize);
  Publish(server->Url("/slow/a.bin"), PatternBytes(0, kSize));
  CancelInTheSlowStretch();
  const int64_t kept = PartSize();
  ASSERT_GT(kept, kSize / 2);
  {
    std::string bytes = ReadWholeFile(target + ".uPART");
    for (size_t i = 1000; i < 1010; ++i) bytes[i] = static_cast<char>(~bytes[i]);
    WriteTextFile(target + ".uPART", bytes);
  }

  NewStart();
  Publish(server->Url("/slow/a.bin"), PatternBytes(0, kSize));
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_FALSE(Has("Refused")) << "the one fresh fetch is not a failure: " << Events();
  EXPECT_TRUE(FileHoldsPattern(target + ".uTMP", kSize));
  const auto fetches = Fetches(*server, "/slow/a.bin");
  ASSERT_EQ(fetches.size(), 3u);
  EXPECT_EQ(fetches[1].substr(0, 4), "206 ");
  EXPECT_NE(fetches[1].find("range=bytes=" + std::to_string(kept) + "- if_range=\\x22"), std::string::npos) << fetches[1];
  EXPECT_EQ(fetches[2], "200 1000000 range=- if_range=-");
}

TEST_F(ResumeTest, AResourceChangedOnTheServerIsSentWholeForTheGuardedRange) {
  server->AddPatternFile("slow/a.bin", kSize);
  Publish(server->Url("/slow/a.bin"), PatternBytes(0, kSize));
  CancelInTheSlowStretch();
  ASSERT_GT(PartSize(), kSize / 2);
  // Published again, same bytes: another date, another ETag.
  const std::string served = server->Root() + "/slow/a.bin";
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, served.c_str(), times, 0), 0);

  NewStart();
  Publish(server->Url("/slow/a.bin"), PatternBytes(0, kSize));
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_FALSE(Has("Refused")) << Events();
  EXPECT_TRUE(FileHoldsPattern(target + ".uTMP", kSize));
  const auto fetches = Fetches(*server, "/slow/a.bin");
  ASSERT_EQ(fetches.size(), 2u);
  EXPECT_EQ(fetches[1].substr(0, 13), "200 1000000 r") << fetches[1];
  EXPECT_NE(fetches[1].find("range=bytes="), std::string::npos) << "asked with the range: " << fetches[1];
}

TEST_F(ResumeTest, APartPlantedAsALinkOrASecondNameIsNeverContinued) {
  FaultServer faults;
  const std::string other = dir.File("other.txt");
  for (const bool hard : {false, true}) {
    const std::string path = std::string("/p/bytes/n:50000/etag:v1/cut:40000/hard:") + (hard ? "1" : "0");
    NewStart();
    Publish(faults.Url(path), PatternBytes(0, 50000));
    ASSERT_TRUE(RunCheckUntil("ConnLost")) << Events() << faults.Log();
    ASSERT_EQ(PartSize(), 40000);
    WriteTextFile(other, "someone else's");
    ::unlink((target + ".uPART").c_str());
    if (hard)
      ASSERT_EQ(::link(other.c_str(), (target + ".uPART").c_str()), 0);
    else
      ASSERT_EQ(::symlink(other.c_str(), (target + ".uPART").c_str()), 0);

    NewStart();
    Publish(faults.Url(path), PatternBytes(0, 50000));
    ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
    EXPECT_TRUE(FileHoldsPattern(target + ".uTMP", 50000));
    EXPECT_EQ(ReadWholeFile(other), "someone else's") << (hard ? "hard link" : "symbolic link");
    const auto log = FaultLog(faults, path);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].find("\"RANGE\""), std::string::npos) << "fetched whole: " << log[1];
    ClearState();
  }
}

TEST_F(ResumeTest, APartOfAReleaseNoLongerAnnouncedIsRemovedAtTheNextCheck) {
  FaultServer faults;
  const std::string path = "/p/bytes/n:50000/etag:v1/cut:40000";
  Publish(faults.Url(path), PatternBytes(0, 50000));
  ASSERT_TRUE(RunCheckUntil("ConnLost")) << Events() << faults.Log();
  ASSERT_EQ(PartSize(), 40000);

  NewStart();
  k->OnNoUpdateAvailable = [this](TObject*) { Record("NoUpdate"); };
  PublishInfo("#date=01/01/2000\n#url1=" + faults.Url(path) + "=" + target + "\n");
  ASSERT_TRUE(RunCheckUntil("NoUpdate")) << Events();
  EXPECT_EQ(PartSize(), -1);
  EXPECT_FALSE(FileExists(StateFolder() + "resume"));
}

// A server that lies to a continued download costs one fetch from the start,
// never an install of what it sent; only a second failure refuses the file.
// A fresh download takes no part (206) as the file either.
TEST_F(ResumeTest, ServerLiesCostOneFetchFromTheStartNeverAnInstall) {
  constexpr int64_t kFile = 200000, kCut = 150000;
  struct Case {
    const char* Lie;
    bool Resumed;        // a part of kCut bytes is kept first
    std::string Answers; // to the range request (resumed), then to the fetches without one
    bool Installed;
  };
  const Case cases[] = {
      {"a 200 of another length", true, "len.199000,ok", true},
      {"a huge Content-Range total", true, "total.1099511627776,ok", true},
      {"a 206 with no total", true, "rest,ok", true},
      {"a 206 from another start", true, "part.0,ok", true},
      {"a 206 longer than its range", true, "long.268435456,ok", true},
      {"a 416 and a size probe calling the part complete", true, "416,len.150000,ok", true},
      {"a 206 to the fetch without a range", true, "len.199000,part", false},
      {"the same lie twice", true, "len.199000", false},
      {"a lie to the component's own fetch from the start", true, "part.0,len.199000", false},
      {"a whole file as a 206 to a fresh download", false, "part", false},
      {"a piece as a 206 to a fresh download", false, "part.100000", false},
  };
  FaultServer faults;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.Lie);
    const std::string path = "/p/script/n:" + std::to_string(kFile) + "/case:" + std::to_string(i) + "/a:" +
                             (c.Resumed ? "cut." + std::to_string(kCut) + "," : "") + c.Answers;
    NewStart();
    Publish(faults.Url(path), PatternBytes(0, kFile));
    if (c.Resumed) {
      ASSERT_TRUE(RunCheckUntil("ConnLost")) << Events() << faults.Log();
      ASSERT_EQ(PartSize(), kCut);
      NewStart();
      Publish(faults.Url(path), PatternBytes(0, kFile));
    }
    const bool ended = RunCheckUntil(c.Installed ? "OwnClose" : "Aborted");
    EXPECT_TRUE(ended) << Events();
    if (c.Installed) {
      EXPECT_FALSE(Has("Refused")) << Events();
      EXPECT_TRUE(FileHoldsPattern(target + ".uTMP", kFile));
    } else {
      EXPECT_TRUE(Has("Refused")) << "a clear failure: " << Events();
      EXPECT_FALSE(Has("OwnClose") || Has("ConnLost")) << Events();
      EXPECT_FALSE(FileExists(target + ".uTMP"));
    }
    EXPECT_EQ(PartSize(), -1) << "no part left over";
    EXPECT_FALSE(FileExists(StateFolder() + "resume")) << "no record left over";
    const auto log = FaultLog(faults, path);
    size_t fresh = 0;  // requests without a range after the first
    for (size_t j = 1; j < log.size(); ++j) fresh += log[j].find("\"RANGE\"") == std::string::npos;
    EXPECT_EQ(fresh, c.Resumed ? 1u : 0u) << "resumed: exactly one fetch from the start";
    if (!c.Resumed) {
      EXPECT_EQ(log.size(), 1u);
    } else if (log.size() >= 2) {
      EXPECT_NE(log[1].find("[\"RANGE\", \"bytes=" + std::to_string(kCut) + "-\"]"), std::string::npos) << log[1];
      // A body past the listed size is stopped at once, not read to its end.
      const size_t sent = log[1].find("\"sent\": ");
      EXPECT_LT(std::stoll(log[1].substr(sent + 8)), 64 << 20) << log[1];
    }
    ClearState();
  }
}
