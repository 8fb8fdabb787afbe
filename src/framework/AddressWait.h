// Parking a thread on a 32-bit atomic until another thread changes it: the
// system's own address wait (a futex on Linux, WaitOnAddress on Windows),
// which wakes reliably on every system the library builds for.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelvora::sys {

// Returns once Value no longer holds Old (it may also return spuriously;
// callers check again).
void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old);
// Wakes the threads parked on Value; call after changing it.
void WakeAll(std::atomic<std::uint32_t>& Value);

}  // namespace kelvora::sys
