#include "platform/ModuleResources.h"

namespace kelvora::platform {

// An ELF executable has no resource section: everything compiled in is
// registered.
bool FindModuleResource(const std::string&, const std::string&, TResourceBlock&) { return false; }

}  // namespace kelvora::platform
