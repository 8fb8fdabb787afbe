// The Linux seam for resources: a process-wide registry of byte blocks that
// are compiled into the program (the system's resource section). The
// updater program is registered here as name "KVLOR", type "KVLOR".
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
// Looks a block up; false when none is registered under Name and Type.
bool FindResource(const std::string& Name, const std::string& Type, TResourceBlock& Block);

// Registers a block at static-initialization time.
struct TResourceRegistrar {
  TResourceRegistrar(const char* Name, const char* Type, const void* Data, std::size_t Size) {
    RegisterResource(Name, Type, Data, Size);
  }
};

}  // namespace kelvora::platform
