// Token and search helpers, names, URL file names, percentages.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "kelvora/kvUtils.h"

using namespace kelvora;

TEST(CutToken, TakesTheTextBeforeTheDelimiter) {
  std::string s = "08:49:37";
  EXPECT_EQ(CutToken(s, ":", true), "08");
  EXPECT_EQ(s, "49:37");
  EXPECT_EQ(CutToken(s, ":", false), "49");
  EXPECT_EQ(s, "49:37");
}

TEST(CutToken, NoDelimiterTakesEverything) {
  std::string s = "abc";
  EXPECT_EQ(CutToken(s, ",", false), "abc");
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(CutToken(s, ",", true), "abc");
  EXPECT_EQ(s, "");
  std::string t = "x";
  EXPECT_EQ(CutToken(t, "", true), "x");  // an empty delimiter never occurs
  EXPECT_EQ(t, "");
}

TEST(CutToken, LongerDelimiter) {
  std::string s = "a::b::c";
  EXPECT_EQ(CutToken(s, "::", true), "a");
  EXPECT_EQ(s, "b::c");
}

TEST(SplitAtDelimiter, SplitsAtTheFirstDelimiter) {
  std::string l, r;
  EXPECT_TRUE(SplitAtDelimiter("\\", "HKCU\\Software\\X", l, r));
  EXPECT_EQ(l, "HKCU");
  EXPECT_EQ(r, "Software\\X");
  SplitAtDelimiter("\\", "HKCU\\Software", l, r, false, sadDelimiterToLeft);
  EXPECT_EQ(l, "HKCU\\");
  EXPECT_EQ(r, "Software");
  SplitAtDelimiter("\\", "HKCU\\Software", l, r, false, sadDelimiterToRight);
  EXPECT_EQ(l, "HKCU");
  EXPECT_EQ(r, "\\Software");
  SplitAtDelimiter("\\", "HKCU\\Software", l, r, false, sadDelimiterToLeft | sadDelimiterToRight);
  EXPECT_EQ(l, "HKCU\\");
  EXPECT_EQ(r, "\\Software");
}

TEST(SplitAtDelimiter, NotFound) {
  std::string l = "old", r = "old";
  EXPECT_FALSE(SplitAtDelimiter("=", "abc", l, r));
  EXPECT_EQ(l, "abc");
  EXPECT_EQ(r, "");
  EXPECT_FALSE(SplitAtDelimiter("=", "abc", l, r, true, sadDelimiterToLeft | sadDelimiterToRight));
  EXPECT_EQ(l, "");
  EXPECT_EQ(r, "abc");
}

TEST(SplitAtDelimiter, OutputMayBeTheInput) {
  std::string s = "a=b", r;
  SplitAtDelimiter("=", s, s, r);
  EXPECT_EQ(s, "a");
  EXPECT_EQ(r, "b");
}

TEST(LastPosOf, PositionOfTheLastOccurrence) {
  EXPECT_EQ(LastPosOf("/", "http://h/dir/f"), 13);
  EXPECT_EQ(LastPosOf("ab", "abcab"), 4);
  EXPECT_EQ(LastPosOf("x", "abc"), 0);
  EXPECT_EQ(LastPosOf("", "abc"), 0);
  EXPECT_EQ(LastPosOf("a", ""), 0);
  EXPECT_EQ(LastPosOf("A", "abc"), 0);  // case-sensitive
  EXPECT_EQ(LastPosOf("abcd", "abc"), 0);
}

TEST(StripLeading, RemovesTheRunAtTheStart) {
  EXPECT_EQ(StripLeadingChar("xxaxb", 'x'), "axb");
  EXPECT_EQ(StripLeadingChar("xxx", 'x'), "");
  EXPECT_EQ(StripLeadingChar("", 'x'), "");
  EXPECT_EQ(StripLeadingBackslashes("\\\\Software\\X"), "Software\\X");
  EXPECT_EQ(StripLeadingBackslashes("Software"), "Software");
}

TEST(IndexOfText, ExactMatchFromZero) {
  const std::vector<std::string> list = {"SUN", "MON", "TUE"};
  EXPECT_EQ(IndexOfText("SUN", list), 0);
  EXPECT_EQ(IndexOfText("TUE", list), 2);
  EXPECT_EQ(IndexOfText("sun", list), -1);
  EXPECT_EQ(IndexOfText("", list), -1);
  EXPECT_EQ(IndexOfText("x", {}), -1);
}

TEST(DayAndMonthNames, MatchTheThreeLetterNamesIgnoringCase) {
  EXPECT_EQ(DayNameIndex("Sun"), 1);
  EXPECT_EQ(DayNameIndex("sat"), 7);
  EXPECT_EQ(DayNameIndex("WED"), 4);
  EXPECT_EQ(DayNameIndex("Sunday"), 0);
  EXPECT_EQ(DayNameIndex(""), 0);
  EXPECT_EQ(MonthNameIndex("jan"), 1);
  EXPECT_EQ(MonthNameIndex("Nov"), 11);
  EXPECT_EQ(MonthNameIndex("DEC"), 12);
  EXPECT_EQ(MonthNameIndex("November"), 0);
  EXPECT_EQ(MonthNameIndex("06"), 0);
}

TEST(UrlToFileName, TakesTheFileNamePart) {
  EXPECT_EQ(UrlToFileName("http://example.com/dir/setup.exe"), "setup.exe");
  EXPECT_EQ(UrlToFileName("http://example.com/get.php?id=3"), "get.php?id=3");
  EXPECT_EQ(UrlToFileName("http://example.com/dir/"), "");
  EXPECT_EQ(UrlToFileName("example.com"), "example.com");
  EXPECT_EQ(UrlToFileName("file:setup.exe"), "setup.exe");
  EXPECT_EQ(UrlToFileName("http://h/a\\b.txt"), "b.txt");
}

TEST(PercentOf, RoundsHalvesToEven) {
  EXPECT_EQ(PercentOf(0, 10), 0);
  EXPECT_EQ(PercentOf(200, 1), 0);  // 0.5
  EXPECT_EQ(PercentOf(200, 3), 2);  // 1.5
  EXPECT_EQ(PercentOf(200, 5), 2);  // 2.5
  EXPECT_EQ(PercentOf(200, 7), 4);  // 3.5
  EXPECT_EQ(PercentOf(3, 1), 33);
  EXPECT_EQ(PercentOf(3, 2), 67);
  EXPECT_EQ(PercentOf(100, 100), 100);
  EXPECT_EQ(PercentOf(1e12L, 5e11L), 50);
}

TEST(PercentOf, WrapsAboveAByteAndFailsToZero) {
  EXPECT_EQ(PercentOf(100, 300), 300 % 256);
  EXPECT_EQ(PercentOf(1e-300L, 1e300L), 0);  // beyond any integer
  EXPECT_EQ(PercentOf(std::numeric_limits<long double>::quiet_NaN(), 1), 0);
  EXPECT_EQ(PercentOf(1, std::numeric_limits<long double>::infinity()), 0);
}
