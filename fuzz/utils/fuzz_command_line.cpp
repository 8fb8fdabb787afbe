// libFuzzer target: see kvfuzz::CommandLine in FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::CommandLine(Data, Size);
  return 0;
}
