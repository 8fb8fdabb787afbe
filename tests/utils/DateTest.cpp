// Time-zone offsets, the time-zone bias and HTTP dates. Every test
// sets TZ itself (POSIX rules, no time-zone data needed).
#include <gtest/gtest.h>

#include "UtilsTestSupport.h"
#include "kelvora/kvUtils.h"

using namespace kelvora;
using kvtest::DateTimeOf;
using kvtest::kHour;
using kvtest::kSecond;
using kvtest::ScopedTZ;

namespace {
// Well below a second, well above the rounding of a double near 35000.
constexpr double kEps = 1e-3 * kSecond;
const double k1994 = DateTimeOf(1994, 11, 6, 8, 49, 37);
}  // namespace

TEST(ParseGmtOffset, SignedHoursAndMinutes) {
  EXPECT_NEAR(ParseGmtOffset("+0100"), kHour, kEps);
  EXPECT_NEAR(ParseGmtOffset("-0130"), -1.5 * kHour, kEps);
  EXPECT_NEAR(ParseGmtOffset("  +0200 trailing"), 2 * kHour, kEps);
  EXPECT_NEAR(ParseGmtOffset("+2359"), (23 * 60 + 59) / 1440.0, kEps);
  EXPECT_EQ(ParseGmtOffset("+0000"), 0);
}

TEST(ParseGmtOffset, AnythingElseIsZero) {
  EXPECT_EQ(ParseGmtOffset("GMT"), 0);
  EXPECT_EQ(ParseGmtOffset(""), 0);
  EXPECT_EQ(ParseGmtOffset("0100"), 0);
  EXPECT_EQ(ParseGmtOffset("+2400"), 0);  // hours out of range
  EXPECT_EQ(ParseGmtOffset("+0160"), 0);  // minutes out of range
  EXPECT_EQ(ParseGmtOffset("+01a0"), 0);
  EXPECT_EQ(ParseGmtOffset("+01"), 0);
  EXPECT_EQ(ParseGmtOffset("+"), 0);
}

TEST(TimeZoneBias, IsUtcMinusLocalTime) {
  {
    ScopedTZ tz("UTC0");
    EXPECT_EQ(TimeZoneBias(), 0);
  }
  {
    ScopedTZ tz("XST-2");  // two hours east of Greenwich
    EXPECT_NEAR(TimeZoneBias(), -2 * kHour, kEps);
    EXPECT_NEAR(UtcToLocal(100.0), 100.0 + 2 * kHour, kEps);
  }
  {
    ScopedTZ tz("YST+5:30");
    EXPECT_NEAR(TimeZoneBias(), 5.5 * kHour, kEps);
  }
}

TEST(UtcToLocal, TheOffsetInForceAtThatDateDecides) {
  // Central European rules: +1 in winter, +2 from the last Sunday of March
  // to the last Sunday of October, whatever today is.
  ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_NEAR(UtcToLocal(DateTimeOf(2026, 7, 15, 12)), DateTimeOf(2026, 7, 15, 14), kEps);
  EXPECT_NEAR(UtcToLocal(DateTimeOf(2026, 12, 7, 12)), DateTimeOf(2026, 12, 7, 13), kEps);
  EXPECT_NEAR(ParseInternetDate("Wed, 15 Jul 2026 12:00:00 GMT"), DateTimeOf(2026, 7, 15, 14), kEps);
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994 08:49:37 GMT"), k1994 + kHour, kEps);
  // Daylight time all year round holds for every date.
  ScopedTZ always("AST-1ADT-3,J1/0,J365/25");
  EXPECT_NEAR(UtcToLocal(DateTimeOf(1994, 1, 15)), DateTimeOf(1994, 1, 15) + 3 * kHour, kEps);
}

TEST(ParseInternetDate, TheThreeFormsGiveTheSameInstant) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994 08:49:37 GMT"), k1994, kEps);
  EXPECT_NEAR(ParseInternetDate("Sunday, 06-Nov-94 08:49:37 GMT"), k1994, kEps);
  EXPECT_NEAR(ParseInternetDate("Sun Nov  6 08:49:37 1994"), k1994, kEps);
}

TEST(ParseInternetDate, ConvertedToLocalTime) {
  ScopedTZ tz("XST-2");
  const double local = k1994 + 2 * kHour;
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994 08:49:37 GMT"), local, kEps);
  EXPECT_NEAR(ParseInternetDate("Sunday, 06-Nov-94 08:49:37 GMT"), local, kEps);
  EXPECT_NEAR(ParseInternetDate("Sun Nov  6 08:49:37 1994"), local, kEps);
  ScopedTZ west("YST+5");
  EXPECT_NEAR(ParseInternetDate("  Sun, 06 Nov 1994 08:49:37 GMT  "), k1994 - 5 * kHour, kEps);
}

TEST(ParseInternetDate, NumericOffsets) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08:49:37 +0200"), DateTimeOf(1994, 11, 6, 6, 49, 37), kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08:49:37 -0130"), DateTimeOf(1994, 11, 6, 10, 19, 37), kEps);
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994 08:49:37 +0000"), k1994, kEps);
  ScopedTZ east("XST-1");
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994 08:49:37 +0100"), k1994, kEps);
}

TEST(ParseInternetDate, TwoDigitYears) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("01 Jan 79 00:00:00 GMT"), DateTimeOf(2079, 1, 1), kEps);
  EXPECT_NEAR(ParseInternetDate("01 Jan 80 00:00:00 GMT"), DateTimeOf(1980, 1, 1), kEps);
  EXPECT_NEAR(ParseInternetDate("01 Jan 99 00:00:00 GMT"), DateTimeOf(1999, 1, 1), kEps);
  EXPECT_NEAR(ParseInternetDate("01 Jan 00 00:00:00 GMT"), DateTimeOf(2000, 1, 1), kEps);
  EXPECT_NEAR(ParseInternetDate("01 Jan 1979 00:00:00 GMT"), DateTimeOf(1979, 1, 1), kEps);
  EXPECT_NEAR(ParseInternetDate("01 Jan 2107 12:00:00 GMT"), DateTimeOf(2107, 1, 1, 12), kEps);
}

TEST(ParseInternetDate, MonthFirstAndWithoutDayName) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("Nov 6 08:49:37 1994"), k1994, kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08:49:37 GMT"), k1994, kEps);
  EXPECT_NEAR(ParseInternetDate("Sun, 06 Nov 1994"), DateTimeOf(1994, 11, 6), kEps);
  EXPECT_NEAR(ParseInternetDate("06-Nov-1994"), DateTimeOf(1994, 11, 6), kEps);  // no space at all
}

TEST(ParseInternetDate, ADayThatIsNotANumberIsDayOne) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("xx Nov 1994 08:49:37 GMT"), DateTimeOf(1994, 11, 1, 8, 49, 37), kEps);
}

TEST(ParseInternetDate, UnreadableDatesGiveDayZeroInLocalTime) {
  ScopedTZ tz("XST-2");
  const double failure = 2 * kHour;  // UtcToLocal(0)
  EXPECT_NEAR(ParseInternetDate("06 November 1994"), failure, kEps);
  EXPECT_NEAR(ParseInternetDate("31 Feb 2001 10:00:00 GMT"), failure, kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 24:00:00 GMT"), failure, kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08:60:00 GMT"), failure, kEps);
  EXPECT_NEAR(ParseInternetDate("garbage"), failure, kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 10000 08:00:00 GMT"), failure, kEps);
}

TEST(ParseInternetDate, TheOffsetStillAppliesAfterAFailure) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 25:00:00 +0100"), -kHour, kEps);
}

TEST(ParseInternetDate, EmptyTextIsZeroWithoutConversion) {
  ScopedTZ tz("XST-2");
  EXPECT_EQ(ParseInternetDate(""), 0);
  EXPECT_EQ(ParseInternetDate("   \t "), 0);
}

TEST(ParseInternetDate, MissingTimeFieldsReadAsZero) {
  ScopedTZ tz("UTC0");
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08:xx:37 GMT"), DateTimeOf(1994, 11, 6, 8, 0, 37), kEps);
  EXPECT_NEAR(ParseInternetDate("06 Nov 1994 08: GMT"), DateTimeOf(1994, 11, 6, 8), kEps);
}
