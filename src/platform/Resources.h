// The platform seam for resources: a process-wide registry of byte blocks
// that are compiled into the program. The updater program is registered
// here as name "KVLOR", type "KVLOR". On Windows a block that is not
// registered is also looked up in the executable's own resource section.
//
// The Windows headers define FindResource as a macro: a source that
// includes them and calls FindResource here must #undef it first.
//
// A block registered from a static initializer in a source of Kelvora::Core
// is only linked when something references that object file: register from
// code that runs anyway, or reference the registering object explicitly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvora::platform {

struct TResourceBlock {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
};

// Registers (or replaces) the block Name of type Type; names and types are
// compared ignoring case. The bytes are not copied: they must stay valid.
void RegisterResource(const std::string& Name, const std::string& Type, const void* Data, std::size_t Size);
// Removes a registered block (for tests).
void UnregisterResource(const std::string& Name, const std::string& Type);
// Looks a block up; false when none is registered under Name and Type (nor,
// on Windows, present in the executable's resources).
bool FindResource(const std::string& Name, const std::string& Type, TResourceBlock& Block);

// Registers a block at static-initialization time.
struct TResourceRegistrar {
  TResourceRegistrar(const char* Name, const char* Type, const void* Data, std::size_t Size) {
    RegisterResource(Name, Type, Data, Size);
  }
};

}  // namespace kelvora::platform
