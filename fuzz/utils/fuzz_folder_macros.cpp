// libFuzzer target: see kvfuzz::FolderMacros in FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::FolderMacros(Data, Size);
  return 0;
}
