// The plain loop back-end: a condition-variable driven loop with posted
// calls and timers, for headless hosts, console programs and tests.
#pragma once

#include "kelvora/kelvora_export.h"

#include <map>
#include <utility>
#include <vector>

#include "kelvora/LoopBackend.h"

namespace kelvora {

class KELVORA_EXPORT TPlainLoopBackend : public TLoopBackend {
 public:
  void Post(std::function<void()> Call) override;
  bool SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) override;
  void KillTimer(const void* Owner, unsigned Id) override;
  void ProcessMessages() override;
  TWaitResult WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) override;
  void Run(const std::atomic<bool>& Stop) override;
  void Wake() override;

  // The most timers the back-end grants at once (a system can run out of
  // them); SetTimer refuses beyond it. Negative means no limit.
  void SetTimerLimit(int Limit);
  int TimerCount() const;
  bool HasTimer(const void* Owner, unsigned Id) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Timer {
    unsigned IntervalMs;
    Clock::time_point Due;
    std::function<void()> OnTimer;
  };
  bool HasInput(TWakeMask Mask);
  bool FireDueTimers();
  Clock::time_point NextTimerDue() const;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<uint64_t> wakeSeq_{0};
  // UI thread only: whether the last wait's input came within the spin, so
  // that spinning again is likely to pay.
  bool spinPays_ = true;
  std::deque<std::function<void()>> posted_;
  std::atomic<int> postedCount_{0};
  std::map<std::pair<const void*, unsigned>, Timer> timers_;
  int timerLimit_ = -1;
};

}  // namespace kelvora
