// Version numbers.
#include <gtest/gtest.h>

#include "kelvora/kvUtils.h"

using namespace kelvora;
using Parts = std::array<std::string, 4>;

TEST(SplitVersion, FourPartsWithZerosForMissingOnes) {
  EXPECT_EQ(SplitVersion("1.2.3.4"), (Parts{"1", "2", "3", "4"}));
  EXPECT_EQ(SplitVersion("2"), (Parts{"2", "0", "0", "0"}));
  EXPECT_EQ(SplitVersion("1.2"), (Parts{"1", "2", "0", "0"}));
  EXPECT_EQ(SplitVersion("1.2.3.4.5"), (Parts{"1", "2", "3", "4"}));
  EXPECT_EQ(SplitVersion(""), (Parts{"", "0", "0", "0"}));
  EXPECT_EQ(SplitVersion("1..3"), (Parts{"1", "", "3", "0"}));
  EXPECT_EQ(SplitVersion("1.2."), (Parts{"1", "2", "", "0"}));
  EXPECT_EQ(SplitVersion("1.2a"), (Parts{"1", "2a", "0", "0"}));
}

TEST(CompareVersions, NumericPartsCompareAsNumbers) {
  EXPECT_EQ(CompareVersions("1.10", "1.9"), 1);
  EXPECT_EQ(CompareVersions("1.9", "1.10"), -1);
  EXPECT_EQ(CompareVersions("2", "2.0.0.0"), 0);
  EXPECT_EQ(CompareVersions("1.2.3.4.5", "1.2.3.4"), 0);
  EXPECT_EQ(CompareVersions("1.2.3.4", "1.2.3.5"), -1);
  EXPECT_EQ(CompareVersions("10.0", "9.99.99.99"), 1);
  EXPECT_EQ(CompareVersions("01.002", "1.2"), 0);
  EXPECT_EQ(CompareVersions("2147483647", "2147483646"), 1);
  // Blanks around a part are not part of the number.
  EXPECT_EQ(CompareVersions("1.10 ", "1.9"), 1);
  EXPECT_EQ(CompareVersions(" 1. 10\t", "1.10"), 0);
  EXPECT_EQ(CompareVersions("1.9", " 1.10"), -1);
}

TEST(CompareVersions, ANonNumericPartComparesTheWholeTexts) {
  EXPECT_GT(CompareVersions("1.2a", "1.2"), 0);  // "1.2a" after "1.2" byte by byte
  EXPECT_LT(CompareVersions("1.2", "1.2a"), 0);
  EXPECT_EQ(CompareVersions("1.2a", "1.2a"), 0);
  EXPECT_LT(CompareVersions("1.10a", "1.9"), 0);  // as texts, not as numbers
  EXPECT_LT(CompareVersions("", "1"), 0);
  EXPECT_EQ(CompareVersions("", ""), 0);
  EXPECT_LT(CompareVersions("1..2", "1.0.2"), 0);
  EXPECT_LT(CompareVersions("1.-1", "1.-2"), 0);  // -1 reads as "not a number": texts
  EXPECT_EQ(CompareVersions("1.-3", "1.-2"), -1);  // other negative numbers are numbers
  EXPECT_GT(CompareVersions("99999999999", "2"), 0);  // beyond an integer
}

TEST(CompareVersions, AWholeTextComparisonStopsAtTheFirstNul) {
  const std::string a("1.x\0zzz", 7), b("1.x\0aaa", 7);
  EXPECT_EQ(CompareVersions(a, b), 0);
}

TEST(CompareVersions, DecidedByTheFirstPositionThatDiffers) {
  // Position 2 differs as numbers before position 3 would need a text
  // comparison.
  EXPECT_EQ(CompareVersions("1.3.x", "1.2.y"), 1);
  EXPECT_EQ(CompareVersions("1.2.x", "1.2.y"), -1);
}
