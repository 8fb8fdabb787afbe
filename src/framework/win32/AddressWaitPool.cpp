#include "framework/win32/AddressWaitPool.h"

#include <windows.h>

#include <cstddef>

namespace kelvora::sys::pool {
namespace {

struct TSlot {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Changed = CONDITION_VARIABLE_INIT;
};

TSlot& SlotOf(const void* Address) {
  static TSlot slots[64];
  const auto a = reinterpret_cast<std::uintptr_t>(Address);
  return slots[(a >> 2 ^ a >> 8) % (sizeof slots / sizeof slots[0])];
}

}  // namespace

void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old) {
  TSlot& s = SlotOf(&Value);
  ::AcquireSRWLockExclusive(&s.Lock);
  if (Value.load(std::memory_order_acquire) == Old) ::SleepConditionVariableSRW(&s.Changed, &s.Lock, INFINITE, 0);
  ::ReleaseSRWLockExclusive(&s.Lock);
}

void WakeAll(std::atomic<std::uint32_t>& Value) {
  TSlot& s = SlotOf(&Value);
  // Through the lock: a waiter that saw the old value is asleep by now.
  ::AcquireSRWLockExclusive(&s.Lock);
  ::ReleaseSRWLockExclusive(&s.Lock);
  ::WakeAllConditionVariable(&s.Changed);
}

}  // namespace kelvora::sys::pool
