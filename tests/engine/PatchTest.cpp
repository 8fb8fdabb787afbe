// Patches between two releases of a file, in each format: a round trip, the
// hostile patches that must end in a refusal within the listed size, and the
// info file keys.
#include <gtest/gtest.h>

#include "kelvora/delta/PatchOffer.h"
#include "kelvora/delta/ZstdPatch.h"
#include "support/TestFiles.h"
#if KV_HAS_MATCH_MAKER
#include "kelvora/delta/MatchPatchMaker.h"
#endif

using namespace kelvora::delta;
using kvtest::RandomBytes;

namespace {

// Applies the patch; the reason, and the bytes made in Out.
std::string Apply(const std::string& Base, const std::string& Patch, int64_t Size, std::string& Out) {
  Out.clear();
  return ApplyPatch(Base, Patch, Size, [&](const uint8_t* D, size_t N) {
    Out.append(reinterpret_cast<const char*>(D), N);
    return true;
  });
}

struct TFormat {
  const char* Name;
  std::string (*Make)(const std::string& Base, const std::string& New, int Level);
};
// Named by its format in the test's name (not by its bytes).
void PrintTo(const TFormat& F, std::ostream* Out) { *Out << F.Name; }

std::string PrintFormat(const testing::TestParamInfo<TFormat>& Info) { return Info.param.Name; }

}  // namespace

class Patch : public testing::TestWithParam<TFormat> {};

TEST_P(Patch, RebuildsTheNewReleaseAndRefusesEveryHostilePatch) {
  if (!PatchesSupported()) GTEST_SKIP() << "this build has no patches";
  const TFormat& format = GetParam();
  kvtest::TempDir dir;
  // Two "releases": 3 MB in common, a changed middle, a new tail.
  const std::string v1 = RandomBytes(3 << 20, 1);
  std::string v2 = v1;
  v2.replace(1 << 20, 4096, RandomBytes(4096, 2));
  v2 += RandomBytes(10000, 3);
  kvtest::WriteTextFile(dir.File("v1"), v1);
  kvtest::WriteTextFile(dir.File("v2"), v2);
  const std::string patch = format.Make(dir.File("v1"), dir.File("v2"), 3);
  EXPECT_LT(patch.size(), 40000u) << "what the releases share costs next to nothing";
  kvtest::WriteTextFile(dir.File("p"), patch);
  std::string out;
  ASSERT_EQ(Apply(dir.File("v1"), dir.File("p"), static_cast<int64_t>(v2.size()), out), "");
  EXPECT_TRUE(out == v2);

  // From and to an empty file.
  kvtest::WriteTextFile(dir.File("empty"), "");
  kvtest::WriteTextFile(dir.File("small"), "a small file");
  for (const auto& [from, to] : {std::pair{"empty", "small"}, std::pair{"small", "empty"}}) {
    kvtest::WriteTextFile(dir.File("p0"), format.Make(dir.File(from), dir.File(to), 3));
    EXPECT_EQ(Apply(dir.File(from), dir.File("p0"), to == std::string("empty") ? 0 : 12, out), "") << from;
    EXPECT_EQ(out, to == std::string("empty") ? "" : "a small file");
  }

  auto refused = [&](const std::string& Base, const std::string& Bytes, int64_t Size) {
    kvtest::WriteTextFile(dir.File("bad"), Bytes);
    std::string reason = Apply(Base, dir.File("bad"), Size, out);
    EXPECT_LE(static_cast<int64_t>(out.size()), Size) << "never more than listed";
    return reason;
  };
  const auto v2size = static_cast<int64_t>(v2.size());
  EXPECT_NE(refused(dir.File("v1"), patch.substr(0, patch.size() / 2), v2size), "") << "truncated";
  for (const size_t at : {patch.size() / 2, patch.size() - 3, size_t{20}}) {
    std::string flipped = patch;
    flipped[at] ^= 0x55;
    EXPECT_NE(refused(dir.File("v1"), flipped, v2size), "") << "corrupt at " << at;
  }
  EXPECT_NE(refused(dir.File("v1"), patch + "x", v2size), "") << "bytes after the end";
  EXPECT_NE(refused(dir.File("v2"), patch, v2size), "") << "another base";
  std::string sameSize = v1;
  sameSize[2 << 20] ^= 1;
  kvtest::WriteTextFile(dir.File("v1b"), sameSize);
  EXPECT_NE(refused(dir.File("v1b"), patch, v2size), "") << "another base of the same size";
  EXPECT_NE(refused(dir.File("v1"), patch, v2size - 1), "") << "more than listed";
  EXPECT_NE(refused(dir.File("v1"), patch, v2size + 1), "") << "less than listed";
  EXPECT_NE(refused(dir.File("v1"), "not a patch at all", v2size), "");
  // Bombs: megabytes of zeros in a few kilobytes, listed as a small file.
  // A Zstandard patch is stopped at the listed size or by the window it
  // asks for; a matched patch names its size before it makes anything (its
  // windows: MatchPatchTest).
  const bool matched = std::string(format.Name) == "Matched";
  for (const int mib : {3, 64}) {
    if (matched && mib == 64) continue;
    kvtest::WriteTextFile(dir.File("zeros"), std::string(static_cast<size_t>(mib) << 20, '\0'));
    const std::string bomb = format.Make(dir.File("v1"), dir.File("zeros"), 1);
    ASSERT_LT(bomb.size(), 100000u);
    const std::string reason = refused(dir.File("v1"), bomb, 1000);
    const char* expected = matched ? "instead of 1000" : mib == 3 ? "more than" : "memory";
    EXPECT_NE(reason.find(expected), std::string::npos) << reason;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, Patch,
                         testing::Values(TFormat{"Zstd", CreateZstdPatch}
#if KV_HAS_MATCH_MAKER
                                         ,
                                         TFormat{"Matched", CreateMatchPatch}
#endif
                                         ),
                         PrintFormat);

TEST(PatchOffer, OfferKeysAreReadExactly) {
  const std::string base(64, 'a'), sum(64, 'B');
  const std::string value = "sha256:" + base + " sha256:" + sum + " 1234 http://h/app-1-2.zst";
  const auto offer = ParsePatchValue(value);
  ASSERT_TRUE(offer);
  EXPECT_EQ(offer->BaseSha256, base);
  EXPECT_EQ(offer->Sha256, std::string(64, 'b'));
  EXPECT_EQ(offer->Size, 1234);
  EXPECT_EQ(offer->Address, "http://h/app-1-2.zst");
  EXPECT_EQ(FormatPatchValue(*offer), "sha256:" + base + " sha256:" + std::string(64, 'b') + " 1234 http://h/app-1-2.zst");
  for (const std::string& bad : {"sha256:" + base + " sha256:" + sum + " 1234", "sha256:" + base + " 1234 http://h/p",
                                "sha256:" + base + " sha256:" + sum + " 0 http://h/p",
                                "sha256:" + base + " sha256:" + sum + " 12 http://h/p q", "md5:" + base})
    EXPECT_FALSE(ParsePatchValue(bad)) << bad;

  const std::string text = "#url2=http://h/app\n#patch2.1=" + value + "\n#PATCH2.2=" + value + "\n#patch2.4=" + value +
                           "\n#patch.1=" + value + "\n";
  std::vector<TPatchOffer> offers;
  std::string reason;
  ASSERT_TRUE(ReadPatchOffers(text, "2", offers, reason)) << reason;
  EXPECT_EQ(offers.size(), 2u) << "numbered from 1, a gap ends the list";
  ASSERT_TRUE(ReadPatchOffers(text, "", offers, reason));
  EXPECT_EQ(offers.size(), 1u);
  EXPECT_FALSE(ReadPatchOffers("#patch3.1=sha256:zz\n", "3", offers, reason));
  EXPECT_NE(reason.find("#patch3.1"), std::string::npos);
}
