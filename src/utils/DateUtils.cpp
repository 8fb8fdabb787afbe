#include "utils/DateUtils.h"

#include <cmath>

namespace kelvora::utils {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  // H. Hinnant's days_from_civil.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

namespace {
void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}
}  // namespace

bool IsLeapYear(int Year) { return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0; }

int DaysInMonth(int Year, int Month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : kDays[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month)) return false;
  Result = static_cast<double>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day))) +
           kUnixEpochDateTime;
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result) {
  if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000) return false;
  Result = (((Hour * 60.0 + Min) * 60.0 + Sec) * 1000.0 + MSec) / 86400000.0;
  return true;
}

bool TryDecodeDateTime(TDateTime Value, TDateTimeParts& Parts) {
  // 1 January 0001 is day -693593, 31 December 9999 is day 2958465.
  if (!std::isfinite(Value) || Value < -693594.0 || Value >= 2958466.0) return false;
  const int64_t ms = std::llround(Value * 86400000.0);
  int64_t days = ms / 86400000;
  int64_t msOfDay = ms % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  CivilFromDays(days - static_cast<int64_t>(kUnixEpochDateTime), Parts.Year, Parts.Month, Parts.Day);
  if (Parts.Year < 1 || Parts.Year > 9999) return false;
  Parts.Hour = static_cast<int>(msOfDay / 3600000);
  Parts.Min = static_cast<int>(msOfDay / 60000 % 60);
  Parts.Sec = static_cast<int>(msOfDay / 1000 % 60);
  Parts.MSec = static_cast<int>(msOfDay % 1000);
  return true;
}

}  // namespace kelvora::utils
