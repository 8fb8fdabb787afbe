#include "kelvora/QtPresence.h"

#include <dlfcn.h>

namespace kelvora::detail {

bool QtApplicationRunning() {
  // QCoreApplication::self, which libQt6Core exports; absent when Qt is not
  // loaded, null while no application object exists.
  void* self = ::dlsym(RTLD_DEFAULT, "_ZN16QCoreApplication4selfE");
  return self != nullptr && *static_cast<void* const*>(self) != nullptr;
}

}  // namespace kelvora::detail
