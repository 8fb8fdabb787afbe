// The progress figures of a transfer, from its counts and the time since
// its worker started.
#pragma once

#include <cstdint>

namespace kelvora::httpimpl {

struct TProgressFigures {
  uint8_t PercentsDone = 0;
  int32_t ElapsedTime = 0;        // seconds
  int32_t EstimatedTimeLeft = 0;  // seconds
  float TransferRate = 0;         // KiB per second (KiB so far in the first second)
};

TProgressFigures ComputeProgressFigures(int64_t ContentLength, int64_t BytesTransferred, int64_t ResumePosition,
                                        uint32_t ElapsedMs);

}  // namespace kelvora::httpimpl
