#include <gtest/gtest.h>

#include "kelvora/InfoFile.h"
#include "kelvora/VersionDecision.h"

using namespace kelvora;

TEST(ReadInfoValue, KeysMatchAnyCaseAndValuesKeepTheirs) {
  const std::string text = "intro #VERSION=2.1.0b\r\n#Message={Faster start-up.\nFixed printing.} tail";
  EXPECT_EQ(ReadInfoValue(text, "#version"), "2.1.0b");
  EXPECT_EQ(ReadInfoValue(text, "#message", true), "Faster start-up.\nFixed printing.");
  EXPECT_EQ(ReadInfoValue(text, "#message"), "{Faster start-up.") << "unbraced stops at the line break";
  EXPECT_EQ(ReadInfoValue(text, "#date"), "");
}

TEST(ReadInfoValue, BlanksControlCharactersBracesAndPlacement) {
  EXPECT_EQ(ReadInfoValue("#date= 10/15/2005\tx", "#date"), " 10/15/2005") << "a blank is part of the value";
  EXPECT_EQ(ReadInfoValue("#message= {x}", "#message", true), "") << "the brace must follow the equals sign";
  EXPECT_EQ(ReadInfoValue("#message={never closed", "#message", true), "never closed");
  EXPECT_EQ(ReadInfoValue("#url=a#date=1/2/2003", "#date"), "1/2/2003") << "found inside another value";
  EXPECT_EQ(ReadInfoValue("#url0=x\n#url12=y", "#url"), "") << "#url does not match #url0 or #url12";
  EXPECT_EQ(ReadInfoValue("#method=1\n#method=2", "#method"), "1") << "the first occurrence wins";
}

TEST(ReadFileList, NumberingContinuesAfterUnnumberedEntriesAndStopsAtAGap) {
  TkvStringList list;
  ReadFileList("#url=a\n#url1=b\n#url2=c\n", list);
  EXPECT_EQ(list.Text(), "a\r\nc\r\n");
  ReadFileList("#url1=b\n#url3=d\n", list);
  EXPECT_EQ(list.Text(), "b\r\n");
  ReadFileList("#url=a\n#url0=z\n#url2=x\n#url3=y\n", list);
  EXPECT_EQ(list.Text(), "a\r\nz\r\ny\r\n");
  ReadFileList("#url01=no leading zeros\n", list);
  EXPECT_EQ(list.Count(), 0);
  ReadFileList("#URL1=http://h/p.exe=%current%/p.exe\n", list);
  EXPECT_EQ(list.GetName(0), "http://h/p.exe");
  EXPECT_EQ(list.GetValue(0), "%current%/p.exe");
}

TEST(ReadFileList, ThousandsOfEntriesAreReadInOnePass) {
  std::string text;
  for (int i = 1; i <= 20000; ++i) text += "#url" + std::to_string(i) + "=http://h/f" + std::to_string(i) + "\n";
  TkvStringList list;
  ReadFileList(text, list);
  EXPECT_EQ(list.Count(), 20000);
  EXPECT_EQ(list[19999], "http://h/f20000");
}

TEST(UpgradeMethod, FirstCharacterDecides) {
  EXPECT_EQ(ReadUpgradeMethod("#method=1"), 1);
  EXPECT_EQ(ReadUpgradeMethod("#method=2x"), 2);
  EXPECT_EQ(ReadUpgradeMethod("#method=3"), 0);
  EXPECT_EQ(ReadUpgradeMethod("#method= 1"), 0);
  EXPECT_EQ(ReadUpgradeMethod(""), 0);
}

TEST(EngineDate, FormatAndParseMonthDayYear) {
  TDateTime d = 0;
  ASSERT_TRUE(ParseEngineDate("10/15/2005", d));
  EXPECT_EQ(FormatEngineDate(d), "10/15/2005");
  ASSERT_TRUE(ParseEngineDate("3/7/2026", d));
  EXPECT_EQ(FormatEngineDate(d), "03/07/2026");
  EXPECT_FALSE(ParseEngineDate("02/30/2005", d));
  EXPECT_FALSE(ParseEngineDate("10-15-2005", d));
  EXPECT_FALSE(ParseEngineDate("10/15/", d));
  EXPECT_FALSE(ParseEngineDate("a/1/2000", d));
  ASSERT_TRUE(ParseEngineDate("1/1/5", d)) << "the year is taken as written";
  EXPECT_EQ(FormatEngineDate(d), "01/01/0005");
}

TEST(VersionDecision, ByDate) {
  EXPECT_TRUE(IsNewerByDate("#date=10/16/2005", "10/15/2005"));
  EXPECT_FALSE(IsNewerByDate("#date=10/15/2005", "10/15/2005"));
  EXPECT_TRUE(IsNewerByDate("no date here", "10/15/2005")) << "a missing release date counts as today";
  EXPECT_FALSE(IsNewerByDate("#date=garbage", FormatEngineDate(TodayDate())));
  EXPECT_FALSE(IsNewerByDate("#date=01/01/2001", "not a date")) << "a malformed own date counts as today";
}

TEST(VersionDecision, ByNumber) {
  EXPECT_TRUE(IsNewerByNumber("#version=1.10", "1.9"));
  EXPECT_FALSE(IsNewerByNumber("#version=1.2", "1.2.0.0"));
  EXPECT_FALSE(IsNewerByNumber("#version=1.2.3.4.5", "1.2.3.4.0"));
  EXPECT_TRUE(IsNewerByNumber("#version=2.0", "1.9b"));
  EXPECT_TRUE(IsNewerByNumber("#version=1.0b", "1.0a"));
  EXPECT_FALSE(IsNewerByNumber("nothing", "1.0"));
}
