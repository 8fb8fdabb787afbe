// The system's own resources of the running executable, which FindResource
// consults for a block that nobody registered.
#pragma once

#include <string>

#include "platform/Resources.h"

namespace kelvora::platform {

// False when the executable has no resource Name of type Type (always on
// Linux, whose executables carry none).
bool FindModuleResource(const std::string& Name, const std::string& Type, TResourceBlock& Block);

}  // namespace kelvora::platform
