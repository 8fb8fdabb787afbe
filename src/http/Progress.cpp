#include "http/Progress.h"

#include <cfenv>
#include <cmath>
#include <limits>

#include "kelvora/kvUtils.h"

namespace kelvora::httpimpl {

TProgressFigures ComputeProgressFigures(int64_t ContentLength, int64_t BytesTransferred, int64_t ResumePosition,
                                        uint32_t ElapsedMs) {
  TProgressFigures f;
  f.PercentsDone = PercentOf(static_cast<long double>(ContentLength + ResumePosition),
                             static_cast<long double>(BytesTransferred + ResumePosition));
  f.ElapsedTime = static_cast<int32_t>(ElapsedMs / 1000);
  // Nothing received yet gives no estimate beyond "the time so far".
  long double total = 0;
  if (BytesTransferred != 0)
    total = static_cast<long double>(ContentLength) / static_cast<long double>(BytesTransferred) * f.ElapsedTime;
  // Rounded to nearest, halves to even (the default rounding mode).
  long double rounded = std::nearbyint(total);
  constexpr long double kMax = std::numeric_limits<int32_t>::max();
  if (!(rounded < kMax)) rounded = kMax;
  f.EstimatedTimeLeft = static_cast<int32_t>(static_cast<int64_t>(rounded) - f.ElapsedTime);
  f.TransferRate = static_cast<float>(BytesTransferred) / 1024.0f;
  if (f.ElapsedTime != 0) f.TransferRate = f.TransferRate / static_cast<float>(f.ElapsedTime);
  return f;
}

}  // namespace kelvora::httpimpl
