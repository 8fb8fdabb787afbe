#include "kelvora/QtPresence.h"

#include <windows.h>

namespace kelvora::detail {

bool QtApplicationRunning() {
  // QCoreApplication::self of a Qt built by the same compiler (the C++
  // front door links only with such a Qt).
  HMODULE core = ::GetModuleHandleW(L"Qt6Core.dll");
  if (core == nullptr) return false;
  auto* self = reinterpret_cast<void* const*>(::GetProcAddress(core, "_ZN16QCoreApplication4selfE"));
  return self != nullptr && *self != nullptr;
}

}  // namespace kelvora::detail
