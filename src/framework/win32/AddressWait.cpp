// WaitOnAddress where the system has it (Windows 8 and later), otherwise the
// pool of AddressWaitPool.h. Not the standard library's atomic wait: this
// compiler implements it with a condition-variable pool that can miss a
// wake-up.
#include "framework/AddressWait.h"

#include <windows.h>

#include "framework/win32/AddressWaitPool.h"
#include "framework/win32/NewerCall.h"

namespace kelvora::sys {
namespace {

struct TAddressCalls {
  BOOL(WINAPI* Wait)(volatile void*, void*, SIZE_T, DWORD);
  void(WINAPI* WakeAll)(void*);
};

// Looked up once, before the first hand-off parks: every wait and its wake
// take the same path for the whole process.
const TAddressCalls& Calls() {
  static const TAddressCalls calls = [] {
    TAddressCalls c{win32::NewerCall<decltype(c.Wait)>(L"kernelbase.dll", "WaitOnAddress"),
                    win32::NewerCall<decltype(c.WakeAll)>(L"kernelbase.dll", "WakeByAddressAll")};
    if (c.Wait == nullptr || c.WakeAll == nullptr) c = {};
    return c;
  }();
  return calls;
}

}  // namespace

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "an atomic is its value");

void WaitWhileEqual(const std::atomic<std::uint32_t>& Value, std::uint32_t Old) {
  if (Value.load(std::memory_order_acquire) != Old) return;
  if (Calls().Wait == nullptr) return pool::WaitWhileEqual(Value, Old);
  Calls().Wait(const_cast<std::atomic<std::uint32_t>*>(&Value), &Old, sizeof Old, INFINITE);
}

void WakeAll(std::atomic<std::uint32_t>& Value) {
  if (Calls().WakeAll == nullptr) return pool::WakeAll(Value);
  Calls().WakeAll(&Value);
}

}  // namespace kelvora::sys
