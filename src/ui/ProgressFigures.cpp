#include "ui/ProgressFigures.h"

#include <cmath>
#include <limits>

#include "kelvora/kvLanguage.h"

namespace kelvora::ui {

namespace {
constexpr double kFirstRateAfter = 1.0;  // seconds
}

TShownFigures ShownFigures(int64_t FileSize, int64_t BytesRead, int64_t TimedBytes, double TimedSeconds) {
  TShownFigures f;
  // All in: nothing is left, however fast it went.
  if (FileSize > 0 && BytesRead >= FileSize) f.TimeLeftKnown = true;
  if (!(TimedSeconds >= kFirstRateAfter) || TimedBytes < 0) return f;
  const double bytesPerSecond = static_cast<double>(TimedBytes) / TimedSeconds;
  f.RateKnown = true;
  f.KiBPerSecond = bytesPerSecond / 1024.0;
  if (FileSize <= 0 || BytesRead >= FileSize || !(bytesPerSecond > 0)) return f;
  // Rounded up: a download that still runs never claims no time is left.
  const double left = std::ceil(static_cast<double>(FileSize - BytesRead) / bytesPerSecond);
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  f.TimeLeftKnown = true;
  f.SecondsLeft = left < kMax ? static_cast<int32_t>(left) : std::numeric_limits<int32_t>::max();
  return f;
}

TShownFigures TProgressMeter::Sample(int64_t FileSize, int64_t BytesRead) {
  const auto now = std::chrono::steady_clock::now();
  if (!started_ || BytesRead < startBytes_) {
    started_ = true;
    start_ = now;
    startBytes_ = BytesRead;
  }
  return ShownFigures(FileSize, BytesRead, BytesRead - startBytes_,
                      std::chrono::duration<double>(now - start_).count());
}

std::string FileSizeText(int64_t FileSize) {
  return FileSize > 0 ? FormatLangText(ltFileSize, {static_cast<double>(FileSize) / 1024.0}) : std::string();
}

std::string TransferRateText(const TShownFigures& Figures) {
  return Figures.RateKnown ? FormatLangText(ltTransferRate, {Figures.KiBPerSecond}) : std::string();
}

std::string TimeLeftText(const TShownFigures& Figures) {
  if (!Figures.TimeLeftKnown) return {};
  const int t = Figures.SecondsLeft;
  return FormatLangText(ltTimeLeft, {t / 3600, (t / 60) % 60, t % 60});
}

}  // namespace kelvora::ui
