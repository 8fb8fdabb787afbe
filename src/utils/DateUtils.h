// Private date helpers of unit kvUtils: encoding and decoding of TDateTime
// (days since 30 December 1899, the fraction being the time of day).
#pragma once

#include <cstdint>

#include "kelvora/Types.h"

namespace kelvora::utils {

// Days from 1 January 1970 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t Year, unsigned Month, unsigned Day);
// TDateTime of 1 January 1970.
inline constexpr double kUnixEpochDateTime = 25569.0;

bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);

// The runtime's EncodeDate / EncodeTime: false for a year outside 1..9999, a
// month outside 1..12, a day outside the month, or an hour of 24 or more, a
// minute or second of 60 or more, a millisecond of 1000 or more.
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);

struct TDateTimeParts {
  int Year, Month, Day, Hour, Min, Sec, MSec;
};
// Splits a date-time (rounded to the millisecond) into its fields; false for
// a value that is not finite or lies outside the years 1 to 9999.
bool TryDecodeDateTime(TDateTime Value, TDateTimeParts& Parts);

}  // namespace kelvora::utils
