// The updater program (built in updater/), compiled in as a byte array and
// offered to the engine as the resource "KVLOR" of type "KVLOR".
#pragma once

#include <cstddef>

namespace kelvora::detail {

extern const unsigned char* const kUpdaterProgram;
extern const std::size_t kUpdaterProgramSize;

// Registers the program as "KVLOR"/"KVLOR" unless a block is registered
// under that name already (a host's or a test's own). Cheap; called before
// every read of the resource, so a block removed again is replaced by the
// program.
void RegisterUpdaterProgram();

}  // namespace kelvora::detail
