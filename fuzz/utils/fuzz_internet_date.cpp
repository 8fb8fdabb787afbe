// libFuzzer target: see kvfuzz::InternetDate in FuzzTargets.h.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kvfuzz::InternetDate(Data, Size);
  return 0;
}
