// The local time zone, from the system's zone rules.
#include <windows.h>

#include <cmath>

#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"

namespace kelvora {

namespace {

bool ToSystemTime(TDateTime T, SYSTEMTIME& Out) {
  utils::TDateTimeParts p{};
  if (!utils::TryDecodeDateTime(T, p) || p.Year < 1601) return false;
  Out = SYSTEMTIME{static_cast<WORD>(p.Year), static_cast<WORD>(p.Month), 0, static_cast<WORD>(p.Day),
                   static_cast<WORD>(p.Hour), static_cast<WORD>(p.Min), static_cast<WORD>(p.Sec),
                   static_cast<WORD>(p.MSec)};
  return true;
}

bool FromSystemTime(const SYSTEMTIME& S, TDateTime& Out) {
  TDateTime date = 0, time = 0;
  if (!utils::TryEncodeDate(S.wYear, S.wMonth, S.wDay, date) ||
      !utils::TryEncodeTime(S.wHour, S.wMinute, S.wSecond, S.wMilliseconds, time))
    return false;
  Out = date >= 0 ? date + time : date - time;
  return true;
}

}  // namespace

TDateTime TimeZoneBias() {
  // The bias of the system is UTC minus local time, daylight saving included
  // when it is in effect now.
  TIME_ZONE_INFORMATION tz{};
  const DWORD which = ::GetTimeZoneInformation(&tz);
  if (which == TIME_ZONE_ID_INVALID) return 0;
  LONG bias = tz.Bias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
  else if (which == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
  return static_cast<double>(bias) / (24.0 * 60.0);
}

TDateTime UtcToLocal(TDateTime T) {
  // The offset in force at T, not today's: a July date in a zone with summer
  // time reads with the summer offset even in December.
  SYSTEMTIME utc, local;
  TDateTime utcValue = 0, localValue = 0;
  if (!std::isfinite(T) || !ToSystemTime(T, utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      !FromSystemTime(utc, utcValue) || !FromSystemTime(local, localValue))
    return T - TimeZoneBias();
  return T + (localValue - utcValue);
}

}  // namespace kelvora
