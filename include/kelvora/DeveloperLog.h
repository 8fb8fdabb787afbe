// Lines for the program's developer, not its user: a way the component is
// used or an info file is published that cannot work as meant. They go to the
// host's hook; without one, to std::cerr in debug builds of the library.
#pragma once

#include "kelvora/kelvora_export.h"

#include <functional>
#include <string>

namespace kelvora {

using TDeveloperLog = std::function<void(const std::string& Line)>;

// Process-wide; an empty hook restores the default.
KELVORA_EXPORT void SetDeveloperLog(TDeveloperLog Log);
KELVORA_EXPORT void DeveloperNote(const std::string& Line);

}  // namespace kelvora
