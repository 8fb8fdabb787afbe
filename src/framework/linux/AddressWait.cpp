// The standard library's atomic wait, which is a futex here.
#include "framework/AddressWait.h"

namespace kelvora::sys {

void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old) {
  Value.wait(Old, std::memory_order_acquire);
}

void WakeAll(std::atomic<std::uint32_t>& Value) { Value.notify_all(); }

}  // namespace kelvora::sys
