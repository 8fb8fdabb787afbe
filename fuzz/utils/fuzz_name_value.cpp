// libFuzzer target: see kvfuzz::NameValue in FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::NameValue(Data, Size);
  return 0;
}
