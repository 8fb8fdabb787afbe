// libFuzzer target: see kvfuzz::Versions in FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::Versions(Data, Size);
  return 0;
}
