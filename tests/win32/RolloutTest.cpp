// The rollout decision on Windows, for the same identifiers the Linux tests
// use (tests/engine/ReleaseControlTest.cpp): the same buckets, the same
// installations offered.
#include <gtest/gtest.h>

#include "kelvora/OfferDecision.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora {
namespace {

TEST(RolloutCNG, FixedIdentifiersGiveTheBucketsLinuxGives) {
  const TReleaseInfo release = ParseReleaseInfo("#version=2.0\n#rollout=10\n#url1=http://127.0.0.1/a\n");
  std::string offered;
  TInstallation self;
  self.VersionControl = byNumber;
  self.VersionNumber = "1.0";
  for (int i = 0; i < 1000; ++i) {
    self.Id = trust::Sha256Hex("installation " + std::to_string(i)).substr(0, 32);
    if (DecideOffer(release, self, {true}, CurrentOfferTime()).Verdict == TOfferVerdict::Offered)
      offered += std::to_string(i) + " ";
  }
  EXPECT_EQ(RolloutBucket("0123456789abcdef0123456789abcdef", release), 58891015u);
  EXPECT_EQ(trust::Sha256Hex(offered).substr(0, 16), "c586999c2ee13598") << offered;
}

}  // namespace
}  // namespace kelvora
