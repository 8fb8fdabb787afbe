#include "kelvora/CheckSchedule.h"

#include <cmath>
#include <sstream>

#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

std::chrono::milliseconds NextCheckDelay(std::chrono::milliseconds Interval, uint64_t Random) {
  const uint64_t spread = static_cast<uint64_t>(Interval.count() > 0 ? Interval.count() : 0) / kCheckSpreadDivisor;
  return Interval + std::chrono::milliseconds(static_cast<int64_t>(Random % (spread + 1)));
}

std::optional<int64_t> RetryAfterSeconds(const std::string& RawHeaders, double NowLocal) {
  std::istringstream lines(RawHeaders);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || utils::LowerCase(utils::Trim(line.substr(0, colon))) != "retry-after") continue;
    const std::string value = utils::Trim(line.substr(colon + 1));
    if (value.empty()) return std::nullopt;
    if (value.find_first_not_of("0123456789") == std::string::npos)
      return value.size() > 12 ? int64_t{999'999'999'999} : std::stoll(value);
    // An HTTP date; an unreadable one comes back as the epoch, long past.
    const double seconds = (ParseInternetDate(value) - NowLocal) * 86400.0;
    if (!std::isfinite(seconds)) return std::nullopt;
    return seconds <= 0 ? 0 : static_cast<int64_t>(std::min(seconds, 1e12));
  }
  return std::nullopt;
}

}  // namespace kelvora
