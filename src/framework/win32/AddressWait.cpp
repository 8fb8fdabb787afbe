// WaitOnAddress: the standard library of this compiler implements the atomic
// wait with a condition-variable pool that can miss a wake-up.
#include "framework/AddressWait.h"

#include <windows.h>
#include <synchapi.h>

namespace kelvora::sys {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "an atomic is its value");

void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old) {
  if (Value.load(std::memory_order_acquire) != Old) return;
  ::WaitOnAddress(const_cast<std::atomic<std::uint32_t>*>(&Value), &Old, sizeof Old, INFINITE);
}

void WakeAll(std::atomic<std::uint32_t>& Value) { ::WakeByAddressAll(&Value); }

}  // namespace kelvora::sys
