#include "platform/PackageOwner.h"

namespace kelvora::platform {

// Windows keeps no per-file owner that a program could ask cheaply and
// reliably (an MSI product's components are keyed by GUIDs, and asking the
// installer service about every file can trigger a repair): the host says.
std::string OwningPackage(const std::string&) { return {}; }

}  // namespace kelvora::platform
