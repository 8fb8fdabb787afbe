// The address wait where the system has none (WaitOnAddress came with
// Windows 8): a fixed pool of condition variables, each shared by the
// addresses that hash to it. A waiter checks the value under its slot's lock
// and sleeps atomically with the release, and a waker passes through the same
// lock after changing the value, so no wake-up falls between the check and
// the sleep. Addresses sharing a slot wake each other spuriously; callers
// check again anyway.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelvora::sys::pool {

void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old);
void WakeAll(std::atomic<std::uint32_t>& Value);

}  // namespace kelvora::sys::pool
