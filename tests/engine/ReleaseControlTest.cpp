// Release control decided without a network: the order of versions, the
// control keys, and the offer decision over many installations.
#include <gtest/gtest.h>

#include <set>

#include "kelvora/CheckSchedule.h"
#include "kelvora/OfferDecision.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseVersion.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/trust/Crypto.h"

using namespace kelvora;

namespace {

int Order(const std::string& A, const std::string& B) {
  const auto a = ParseReleaseVersion(A), b = ParseReleaseVersion(B);
  EXPECT_TRUE(a && b) << A << " " << B;
  return a && b ? CompareReleaseVersions(*a, *b) : 99;
}

std::string Id(int N) { return trust::Sha256Hex("test installation " + std::to_string(N)).substr(0, 32); }

// The ids of 1000 installations that Info is offered to, running Running.
std::set<int> OfferedOf(const std::string& Info, const std::string& Running = "1.0") {
  const TReleaseInfo release = ParseReleaseInfo(Info);
  TInstallation self;
  self.VersionControl = byNumber;
  self.VersionNumber = Running;
  std::set<int> out;
  for (int i = 0; i < 1000; ++i) {
    self.Id = Id(i);
    if (DecideOffer(release, self, {true}, CurrentOfferTime()).Verdict == TOfferVerdict::Offered) out.insert(i);
  }
  return out;
}

}  // namespace

TEST(ReleaseVersion, NumbersPreReleasesAndWhatIsNoVersion) {
  EXPECT_EQ(Order("1.10", "1.9"), 1);
  EXPECT_EQ(Order("1.2", "1.2.0.0"), 0);
  EXPECT_EQ(Order("1.02", "1.2"), 0);
  EXPECT_EQ(Order("1.2.3.4.5", "1.2.3.4"), 0) << "four parts count, as before";
  EXPECT_EQ(Order("99999999999999999999.1", "99999999999999999998.9"), 1) << "numbers of any size";
  EXPECT_EQ(Order("1.2-beta", "1.2"), -1);
  EXPECT_EQ(Order("1.2-beta.2", "1.2-beta.10"), -1);
  EXPECT_EQ(Order("1.2-beta", "1.2-alpha.5"), 1);
  EXPECT_EQ(Order("1.2-rc.1", "1.2-rc"), 1) << "a longer list orders above the one it starts with";
  EXPECT_EQ(Order("1.2-1", "1.2-alpha"), -1) << "numbers below words";
  EXPECT_EQ(Order("1.0b", "1.0a"), 1) << "a letter directly after the numbers starts a pre-release";
  EXPECT_EQ(Order("2.0", "1.9b"), 1);
  EXPECT_EQ(Order("1.2+build.7", "1.2"), 0);
  EXPECT_EQ(Order(" 1.10 ", "1.9"), 1);
  for (const char* bad : {"", "abc", "v1.2", "1.", ".1", "1..2", "1.2-", "1.2-be_ta", "1.2+", "-1", "1.2 beta", "1,2"})
    EXPECT_FALSE(ParseReleaseVersion(bad)) << bad;
  EXPECT_NE(ReleaseVersionProblem("abc").find("malformed #version: \"abc\""), std::string::npos);

  // The engine's decision: the two faults mended, the rest as before.
  EXPECT_FALSE(IsNewerByNumber("#version=abc", "1.0"));
  EXPECT_FALSE(IsNewerByNumber("#version=1.2-beta", "1.2"));
  EXPECT_TRUE(IsNewerByNumber("#version=1.2", "1.2-beta"));
  EXPECT_TRUE(IsNewerByNumber("#version=1.0", "")) << "no own version: any release is newer, as before";
  EXPECT_TRUE(IsNewerByNumber("#version=2.0", "1.x")) << "an own text that is no version: compared as before";
  EXPECT_FALSE(IsNewerByNumber("#version=2.0", "built locally"));
}

TEST(ReleaseControl, KeysAreReadOnceAndMalformedOnesNamed) {
  EXPECT_EQ(ParseRolloutPercent("10"), 10'000'000u);
  EXPECT_EQ(ParseRolloutPercent("12.5"), 12'500'000u);
  EXPECT_EQ(ParseRolloutPercent("0.000001"), 1u);
  EXPECT_EQ(ParseRolloutPercent("100"), 100'000'000u);
  for (const char* bad : {"", "100.1", "101", "-1", "1e1", "0.0000001", "5%", "1.", ".5", " 5"})
    EXPECT_FALSE(ParseRolloutPercent(bad)) << bad;
  EXPECT_EQ(FormatRolloutPercent(12'500'000), "12.5");
  EXPECT_EQ(FormatRolloutPercent(0), "0");

  const TReleaseInfo info = ParseReleaseInfo("#version=2.0\n#SEQUENCE=42\n#rollout=7.5\n#url=a\n");
  EXPECT_EQ(info.Sequence, 42u);
  EXPECT_EQ(info.Rollout, 7'500'000u);
  EXPECT_TRUE(info.ControlProblem.empty());
  EXPECT_EQ(ParseReleaseInfo("#sequence=12x\n").ControlProblem,
            "malformed #sequence: \"12x\" is not a whole number below 10^19");
  EXPECT_NE(ParseReleaseInfo("#rollout=half\n").ControlProblem.find("malformed #rollout: \"half\""), std::string::npos);
  const TReleaseInfo old = ParseReleaseInfo("#version=2.0\n#url=a\n");
  EXPECT_FALSE(old.Sequence || old.Rollout);
  EXPECT_TRUE(old.ControlProblem.empty());
}

TEST(OfferDecision, RolloutOffersAStableGrowingShareAndEachReleaseItsOwnGroup) {
  const std::string files = "#url1=http://127.0.0.1/a\n";
  const std::set<int> ten = OfferedOf("#version=2.0\n#rollout=10\n" + files);
  EXPECT_GE(ten.size(), 80u);
  EXPECT_LE(ten.size(), 120u);
  EXPECT_EQ(OfferedOf("#version=2.0\n#rollout=10\n" + files), ten) << "the same ones at the next check";
  const std::set<int> twenty = OfferedOf("#version=2.0\n#rollout=20\n" + files);
  EXPECT_TRUE(std::includes(twenty.begin(), twenty.end(), ten.begin(), ten.end())) << "a superset at 20 %";
  EXPECT_GE(twenty.size(), 170u);
  EXPECT_LE(twenty.size(), 230u);
  const std::set<int> next = OfferedOf("#version=2.1\n#rollout=10\n" + files);
  std::set<int> both;
  std::set_intersection(ten.begin(), ten.end(), next.begin(), next.end(), std::inserter(both, both.end()));
  EXPECT_LT(both.size(), ten.size() / 2) << "a different group goes first for the next release";
  EXPECT_TRUE(OfferedOf("#version=2.0\n#rollout=0\n" + files).empty()) << "0 halts";
  EXPECT_EQ(OfferedOf("#version=2.0\n" + files).size(), 1000u) << "no key: everybody";
  EXPECT_EQ(OfferedOf("#version=2.0\n#rollout=100\n" + files).size(), 1000u);
  EXPECT_TRUE(OfferedOf("#version=2.0\n#rollout=100\n" + files, "2.0").empty()) << "only a newer release";
}

TEST(OfferDecision, ReplaysFaultsAndWhatTheInstallationKnows) {
  const TOfferTime now = CurrentOfferTime();
  TInstallation self;
  self.VersionControl = byNumber;
  self.VersionNumber = "1.0";
  self.HighestSequence = 7;
  auto decide = [&](const std::string& Info, bool Automatic = true) {
    return DecideOffer(ParseReleaseInfo(Info + "#url1=http://127.0.0.1/a\n"), self, {Automatic}, now);
  };
  EXPECT_EQ(decide("#version=2.0\n#sequence=7\n").Verdict, TOfferVerdict::Offered);
  const TOffer replay = decide("#version=2.0\n#sequence=6\n");
  EXPECT_EQ(replay.Verdict, TOfferVerdict::Refused);
  EXPECT_NE(replay.Reason.find("replay: its #sequence 6 is below 7"), std::string::npos) << replay.Reason;
  EXPECT_EQ(decide("#version=2.0\n").Verdict, TOfferVerdict::Refused) << "no key after one was accepted";
  self.HighestSequence.reset();
  EXPECT_EQ(decide("#version=2.0\n").Verdict, TOfferVerdict::Offered) << "an old file: as before";
  EXPECT_EQ(decide("#version=abc\n").Verdict, TOfferVerdict::Refused);
  EXPECT_EQ(decide("#version=2.0\n#rollout=ten\n").Verdict, TOfferVerdict::Refused);
  EXPECT_EQ(decide("#version=2.0\n#rollout=50\n").Verdict, TOfferVerdict::OutsideRollout)
      << "without an identifier only a release offered to all";
  EXPECT_EQ(decide("#version=2.0\n#rollout=0\n").Verdict, TOfferVerdict::Halted);

  self.FailedBefore = true;
  self.FailedOn = now.TodayText;
  EXPECT_EQ(decide("#version=2.0\n").Verdict, TOfferVerdict::FailedToday);
  const TOffer asked = decide("#version=2.0\n", false);
  EXPECT_EQ(asked.Verdict, TOfferVerdict::Offered);
  EXPECT_TRUE(asked.FailedBefore);
  self.AlreadyInstalled = true;
  EXPECT_EQ(decide("#version=2.0\n", false).Verdict, TOfferVerdict::NotNewer);
  self.VersionControl = byDate;
  self.VersionDate = "01/01/2001";
  self.AlreadyInstalled = self.FailedBefore = false;
  EXPECT_EQ(decide("#date=01/02/2001\n#version=not one\n").Verdict, TOfferVerdict::Offered)
      << "by date, the version text plays no part";
}

TEST(CheckSchedule, SpreadStaysWithinATenthAndRetryAfterIsRead) {
  using std::chrono::milliseconds;
  for (uint64_t r : {0ull, 1ull, 99ull, 100ull, 101ull, ~0ull}) {
    EXPECT_GE(NextCheckDelay(milliseconds(1000), r), milliseconds(1000));
    EXPECT_LE(NextCheckDelay(milliseconds(1000), r), milliseconds(1100));
  }
  EXPECT_NE(NextCheckDelay(milliseconds(1000), 7), NextCheckDelay(milliseconds(1000), 8));
  const double now = 46000.5;  // local time, as a TDateTime
  EXPECT_EQ(RetryAfterSeconds("HTTP/1.1 503 x\r\nretry-after: 120\r\n", now), 120);
  EXPECT_EQ(RetryAfterSeconds("Content-Type: text/html\r\n", now), std::nullopt);
  EXPECT_EQ(RetryAfterSeconds("Retry-After: soon\r\n", now), 0) << "an unreadable date lies in the past";
  EXPECT_EQ(RetryAfterSeconds("Retry-After: 99999999999999999999\r\n", now), 999'999'999'999);
  const std::string date = "Tue, 08 Dec 2026 14:00:00 GMT";
  const auto dated = RetryAfterSeconds("Retry-After: " + date + "\r\n", ParseInternetDate(date) - 1.0 / 24);
  ASSERT_TRUE(dated);
  EXPECT_NEAR(static_cast<double>(*dated), 3600, 1);
}

// The decision is the same on every system for the same identifiers: the
// Windows build checks the same figures (tests/win32/CryptoTest.cpp).
TEST(OfferDecision, FixedIdentifiersGiveTheRecordedBuckets) {
  const TReleaseInfo release = ParseReleaseInfo("#version=2.0\n#rollout=10\n#url1=http://127.0.0.1/a\n");
  std::string offered;
  for (int i = 0; i < 1000; ++i)
    if (RolloutBucket(trust::Sha256Hex("installation " + std::to_string(i)).substr(0, 32), release) < 10'000'000u)
      offered += std::to_string(i) + " ";
  EXPECT_EQ(RolloutBucket("0123456789abcdef0123456789abcdef", release), 58891015u);
  EXPECT_EQ(trust::Sha256Hex(offered).substr(0, 16), "c586999c2ee13598") << offered;
}

TEST(OfferDecision, CriticalAndMinimumSayWhyAReleaseMayNotWait) {
  TInstallation self;
  self.VersionControl = byNumber;
  self.VersionNumber = "1.4";
  self.Id = Id(1);
  auto urgency = [&](const std::string& Info) {
    const TOffer offer = DecideOffer(ParseReleaseInfo(Info), self, {false}, CurrentOfferTime());
    EXPECT_EQ(offer.Verdict, TOfferVerdict::Offered) << Info;
    return offer.Urgency;
  };
  EXPECT_EQ(urgency("#version=2.0\n#url=a\n"), TOfferUrgency::Normal);
  EXPECT_EQ(urgency("#version=2.0\n#critical=yes\n#url=a\n"), TOfferUrgency::Critical);
  EXPECT_EQ(urgency("#version=2.0\n#critical=No\n#url=a\n"), TOfferUrgency::Normal);
  EXPECT_EQ(urgency("#version=2.0\n#minimum=1.5\n#url=a\n"), TOfferUrgency::BelowMinimum);
  EXPECT_EQ(urgency("#version=2.0\n#minimum=1.4\n#critical=true\n#url=a\n"), TOfferUrgency::Critical);
  EXPECT_EQ(urgency("#version=2.0\n#minimum=1.4.0-rc.1\n#url=a\n"), TOfferUrgency::Normal);
  // Dates have no minimum; a halt still halts a critical release.
  self.VersionControl = byDate;
  self.VersionDate = "01/01/2020";
  EXPECT_EQ(urgency("#date=12/31/2099\n#minimum=9\n#url=a\n"), TOfferUrgency::Normal);
  self.VersionControl = byNumber;
  EXPECT_EQ(DecideOffer(ParseReleaseInfo("#version=2.0\n#critical=yes\n#rollout=0\n#url=a\n"), self, {false},
                        CurrentOfferTime()).Verdict,
            TOfferVerdict::Halted);
  for (const auto& [info, problem] :
       {std::pair{"#critical=maybe\n", "malformed #critical: \"maybe\" is not yes or no"},
        std::pair{"#minimum=one\n", "malformed #minimum: \"one\" is not a version"}})
    EXPECT_EQ(ParseReleaseInfo(std::string("#version=2.0\n#url=a\n") + info).ControlProblem, problem);
}
