#include "kelvora/PlainLoop.h"

#include <exception>

namespace kelvora {

namespace {
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

void TPlainLoopBackend::Post(std::function<void()> Call) {
  {
    std::lock_guard lk(mutex_);
    posted_.push_back(std::move(Call));
    postedCount_.fetch_add(1, std::memory_order_seq_cst);
    wakeSeq_.fetch_add(1, std::memory_order_seq_cst);
  }
  cv_.notify_all();
}

bool TPlainLoopBackend::SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) {
  std::lock_guard lk(mutex_);
  auto key = std::make_pair(Owner, Id);
  auto it = timers_.find(key);
  if (it == timers_.end() && timerLimit_ >= 0 && static_cast<int>(timers_.size()) >= timerLimit_) return false;
  timers_[key] = Timer{IntervalMs, Clock::now() + std::chrono::milliseconds(IntervalMs), std::move(OnTimer)};
  return true;
}

void TPlainLoopBackend::KillTimer(const void* Owner, unsigned Id) {
  std::lock_guard lk(mutex_);
  timers_.erase(std::make_pair(Owner, Id));
}

void TPlainLoopBackend::SetTimerLimit(int Limit) {
  std::lock_guard lk(mutex_);
  timerLimit_ = Limit;
}

int TPlainLoopBackend::TimerCount() const {
  std::lock_guard lk(mutex_);
  return static_cast<int>(timers_.size());
}

bool TPlainLoopBackend::HasTimer(const void* Owner, unsigned Id) const {
  std::lock_guard lk(mutex_);
  return timers_.count(std::make_pair(Owner, Id)) != 0;
}

TPlainLoopBackend::Clock::time_point TPlainLoopBackend::NextTimerDue() const {
  auto next = Clock::time_point::max();
  for (const auto& [key, t] : timers_)
    if (t.Due < next) next = t.Due;
  return next;
}

bool TPlainLoopBackend::FireDueTimers() {
  std::vector<std::pair<const void*, unsigned>> due;
  {
    std::lock_guard lk(mutex_);
    auto now = Clock::now();
    for (const auto& [key, t] : timers_)
      if (t.Due <= now) due.push_back(key);
  }
  bool any = false;
  for (const auto& key : due) {
    std::function<void()> fn;
    {
      std::lock_guard lk(mutex_);
      auto it = timers_.find(key);  // an earlier handler may have killed it
      if (it == timers_.end()) continue;
      it->second.Due = Clock::now() + std::chrono::milliseconds(it->second.IntervalMs);
      fn = it->second.OnTimer;
    }
    any = true;
    if (fn) fn();
  }
  return any;
}

void TPlainLoopBackend::ProcessMessages() {
  std::exception_ptr firstError;
  auto drain = [&] {
    for (;;) {
      bool any = ServeSentCalls();
      // Most rounds serve hand-offs only: an empty queue of posted calls is
      // not swapped out (a deque allocates even when empty).
      if (postedCount_.load(std::memory_order_seq_cst) == 0) {
        if (!any) break;
        continue;
      }
      std::deque<std::function<void()>> batch;
      {
        std::lock_guard lk(mutex_);
        batch.swap(posted_);
        postedCount_.store(0, std::memory_order_seq_cst);
      }
      for (auto& call : batch) {
        any = true;
        // One failing call must not lose the others queued behind it.
        try {
          call();
        } catch (...) {
          if (!firstError) firstError = std::current_exception();
        }
      }
      if (!any) break;
    }
  };
  drain();
  // Each due timer fires at most once per call, so a short interval cannot
  // keep this loop busy forever.
  if (FireDueTimers()) drain();
  if (firstError) std::rethrow_exception(firstError);
}

bool TPlainLoopBackend::HasInput(TWakeMask Mask) {
  if (HasSentCalls()) return true;
  if (Mask == TWakeMask::SentCalls) return false;
  return postedCount_.load(std::memory_order_seq_cst) > 0;
}

TWaitResult TPlainLoopBackend::WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) {
  const auto start = Clock::now();
  const auto deadline = TimeoutMs == 0 ? Clock::time_point::max() : start + std::chrono::milliseconds(TimeoutMs);
  Clock::time_point timerDue;
  {
    std::lock_guard lk(mutex_);
    timerDue = Mask == TWakeMask::AnyInput ? NextTimerDue() : Clock::time_point::max();
  }
  // Hand-offs tend to come in bursts (one per received block): spin a little
  // before parking so the next one is answered without a wake-up. Between
  // bursts (a file's request and answer) input comes later than the spin:
  // once a spin went unanswered, the next wait parks at once, until input
  // comes within the spin's time again.
  const auto spinUntil = spinPays_ ? start + kSpin : start;
  struct Learn {
    bool& Pays;
    Clock::time_point Start;
    ~Learn() { Pays = Clock::now() - Start < kSpin; }
  } learn{spinPays_, start};
  const uint64_t seen = wakeSeq_.load(std::memory_order_seq_cst);
  unsigned n = 0;
  for (;;) {
    if (Signal != nullptr && Signal->IsSet()) return TWaitResult::Signalled;
    if (HasInput(Mask)) return TWaitResult::Input;
    // A bare Wake() counts as input, so that a loop waiting for nothing in
    // particular looks at its stop flag.
    if (wakeSeq_.load(std::memory_order_seq_cst) != seen) return TWaitResult::Input;
    if ((++n & 15) != 0) {
      CpuRelax();
      continue;
    }
    auto now = Clock::now();
    if (now >= timerDue) return TWaitResult::Input;
    if (now >= deadline) return TWaitResult::Timeout;
    if (now < spinUntil) continue;

    std::unique_lock lk(mutex_);
    parked_.store(true, std::memory_order_seq_cst);
    if ((Signal != nullptr && Signal->IsSet()) || HasInput(Mask) || wakeSeq_.load() != seen) {
      parked_.store(false, std::memory_order_seq_cst);
      continue;
    }
    const auto wakeAt = timerDue < deadline ? timerDue : deadline;
    // The checks at the top of the loop tell what ended the wait.
    if (wakeAt == Clock::time_point::max())
      cv_.wait(lk, [&] { return wakeSeq_.load() != seen; });
    else
      cv_.wait_until(lk, wakeAt, [&] { return wakeSeq_.load() != seen; });
    parked_.store(false, std::memory_order_seq_cst);
  }
}

void TPlainLoopBackend::Wake() {
  wakeSeq_.fetch_add(1, std::memory_order_seq_cst);
  if (!parked_.load(std::memory_order_seq_cst)) return;
  // Taking the lock orders this notify after the waiter's check.
  { std::lock_guard lk(mutex_); }
  cv_.notify_all();
}

void TPlainLoopBackend::Run(const std::atomic<bool>& Stop) {
  while (!Stop.load(std::memory_order_acquire)) {
    WaitFor(nullptr, 0, TWakeMask::AnyInput);
    ProcessMessages();
  }
}

}  // namespace kelvora
