// When the front door's interval checks come: spread over a tenth of the
// interval, so installations that start together do not ask the server
// together, and never before a busy server (429, 503) said to come back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kelvora {

// The share of the interval the automatic check's random delay lies in.
inline constexpr int kCheckSpreadDivisor = 10;

// The wait before the next automatic check: Interval plus a delay from
// [0, Interval / kCheckSpreadDivisor] taken from Random.
std::chrono::milliseconds NextCheckDelay(std::chrono::milliseconds Interval, uint64_t Random);

// The seconds a "Retry-After" among RawHeaders asks for (delta-seconds or
// an HTTP date, against the local time NowLocal); nullopt without one that
// can be read. Never negative.
std::optional<int64_t> RetryAfterSeconds(const std::string& RawHeaders, double NowLocal);

}  // namespace kelvora
