// Calendar conversions the C library spells differently per system
// (linux/ and win32/ LocaleAndTime.cpp).
#pragma once

#include <ctime>

namespace kelvora::detail {

// The local calendar time of T; false when it cannot be had.
bool LocalTime(std::time_t T, std::tm& Local);
// Seconds since 1970 of Utc, read as UTC and normalised in place (02-30
// becomes 03-02), as timegm does.
std::time_t UtcSeconds(std::tm& Utc);

}  // namespace kelvora::detail
