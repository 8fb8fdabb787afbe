// The speed and time left a person is shown for one download, in the
// wizard window and on the console alike. A figure is shown only once it
// means something: no rate before a full second of body has been timed, no
// time left without a known size, and never a negative time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kelvora::ui {

struct TShownFigures {
  bool RateKnown = false;
  double KiBPerSecond = 0;
  bool TimeLeftKnown = false;
  int32_t SecondsLeft = 0;
};

// FileSize <= 0 means the server announced no size. TimedBytes arrived
// within TimedSeconds (with its fraction); BytesRead is the whole count.
TShownFigures ShownFigures(int64_t FileSize, int64_t BytesRead, int64_t TimedBytes, double TimedSeconds);

// Times one file's body from its first block on, so that connecting,
// redirects and a password question do not count as slow transfer. A
// repeated request (its count starts again) restarts the timing.
class TProgressMeter {
 public:
  void Restart() { started_ = false; }  // a new file begins
  TShownFigures Sample(int64_t FileSize, int64_t BytesRead);

 private:
  bool started_ = false;
  std::chrono::steady_clock::time_point start_{};
  int64_t startBytes_ = 0;
};

// The lines in the current language; "" for a figure not known yet (a
// size of 0 is what a response without Content-Length gives).
std::string FileSizeText(int64_t FileSize);
std::string TransferRateText(const TShownFigures& Figures);
std::string TimeLeftText(const TShownFigures& Figures);

}  // namespace kelvora::ui
