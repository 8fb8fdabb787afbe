// The local time zone, from the C library's zone data.
#include <cmath>
#include <ctime>

#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"

namespace kelvora {

TDateTime TimeZoneBias() {
  // The bias of the system is UTC minus local time, daylight saving included
  // when it is in effect now.
  tzset();
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) == nullptr) return 0;
  return static_cast<double>(-local.tm_gmtoff) / 86400.0;
}

TDateTime UtcToLocal(TDateTime T) {
  // The offset in force at T, not today's: a July date in a zone with summer
  // time reads with the summer offset even in December.
  const double seconds = (T - utils::kUnixEpochDateTime) * 86400.0;
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) return T - TimeZoneBias();
  tzset();
  const time_t at = static_cast<time_t>(std::floor(seconds));
  struct tm local {};
  if (localtime_r(&at, &local) == nullptr) return T - TimeZoneBias();
  return T + static_cast<double>(local.tm_gmtoff) / 86400.0;
}

}  // namespace kelvora
