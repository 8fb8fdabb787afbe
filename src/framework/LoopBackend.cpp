#include "kelvora/LoopBackend.h"

#include <memory>
#include <thread>

#include "kelvora/Application.h"
#include "framework/AddressWait.h"
#include "framework/DefaultLoop.h"

namespace kelvora {

namespace {

enum : uint32_t { kQueued = 0, kDone = 1, kDropped = 2 };

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

std::atomic<TLoopBackend*> gBackend{nullptr};
// Wake-ups and posts from other threads under way on the installed
// back-end: SetLoopBackend waits for them, so that the back-end it replaced
// may be destroyed as soon as it returns (a worker that finishes a job as
// the program takes its Qt integration down must not write to a closed
// descriptor).
std::atomic<int> gPinned{0};

// F with the installed back-end, pinned for F's duration. F must not block.
template <class F>
void WithPinnedBackend(F&& Use) {
  gPinned.fetch_add(1, std::memory_order_seq_cst);
  Use(LoopBackend());
  gPinned.fetch_sub(1, std::memory_order_seq_cst);
}

}  // namespace

// One hand-off. Shared between the sender and the UI thread so that neither
// side touches freed memory when the other finishes first.
struct TLoopBackend::SentCall {
  const std::function<void()>* Call = nullptr;
  const std::atomic<bool>* Cancel = nullptr;
  std::exception_ptr Error;
  std::atomic<uint32_t> State{kQueued};

  void Complete(uint32_t how) {
    State.store(how, std::memory_order_release);
    sys::WakeAll(State);
  }
};

TLoopBackend::TLoopBackend() = default;

TLoopBackend::~TLoopBackend() {
  // Release any sender still queued; its call can no longer run.
  std::lock_guard lk(sendMutex_);
  for (auto& rec : sends_) rec->Complete(kDropped);
  sends_.clear();
}

bool TLoopBackend::Send(const std::function<void()>& Call, const std::atomic<bool>* Cancel) {
  if (Cancel != nullptr && Cancel->load(std::memory_order_acquire)) return false;
  if (Application().IsMainThread()) {
    Call();
    return true;
  }
  auto rec = std::make_shared<SentCall>();
  rec->Call = &Call;
  rec->Cancel = Cancel;
  {
    std::lock_guard lk(sendMutex_);
    sends_.push_back(rec);
    pendingSends_.fetch_add(1, std::memory_order_seq_cst);
  }
  const bool parked = parked_.load(std::memory_order_seq_cst);
  if (parked) Wake();

  // Spin while the UI thread is likely to answer soon, then park. A parked
  // UI thread answers only after its wake-up, which costs more than the
  // spin would save; the spin would also take the CPU it needs to wake.
  const auto until = parked ? std::chrono::steady_clock::time_point() : std::chrono::steady_clock::now() + kSpin;
  uint32_t state;
  unsigned n = 0;
  while ((state = rec->State.load(std::memory_order_acquire)) == kQueued) {
    CpuRelax();
    if ((++n & 63) == 0 && std::chrono::steady_clock::now() >= until) sys::WaitWhileEqual(rec->State, kQueued);
  }
  if (state == kDropped) return false;
  if (rec->Error) {
    // Taken out of the shared record, so that the exception ends on this
    // thread whichever side lets go of the record last.
    std::exception_ptr error = std::move(rec->Error);
    std::rethrow_exception(error);
  }
  return true;
}

bool TLoopBackend::ServeSentCalls() {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentCall> rec;
    {
      std::lock_guard lk(sendMutex_);
      if (sends_.empty()) break;
      rec = std::move(sends_.front());
      sends_.pop_front();
      pendingSends_.fetch_sub(1, std::memory_order_seq_cst);
    }
    if (rec->Cancel != nullptr && rec->Cancel->load(std::memory_order_acquire)) {
      rec->Complete(kDropped);
      continue;
    }
    try {
      (*rec->Call)();
    } catch (...) {
      rec->Error = std::current_exception();
    }
    rec->Complete(kDone);
    any = true;
  }
  return any;
}

void TLoopBackend::DropCancelledCalls() {
  std::lock_guard lk(sendMutex_);
  for (auto it = sends_.begin(); it != sends_.end();) {
    if ((*it)->Cancel != nullptr && (*it)->Cancel->load(std::memory_order_acquire)) {
      (*it)->Complete(kDropped);
      it = sends_.erase(it);
      pendingSends_.fetch_sub(1, std::memory_order_seq_cst);
    } else {
      ++it;
    }
  }
}

TLoopBackend& LoopBackend() {
  TLoopBackend* b = gBackend.load(std::memory_order_acquire);
  return b != nullptr ? *b : detail::DefaultLoopBackend();
}

void SetLoopBackend(TLoopBackend* Backend) {
  // Sequentially consistent on both sides: a thread that pinned before this
  // store is waited for, and one that pins after it sees the new back-end.
  gBackend.store(Backend, std::memory_order_seq_cst);
  while (gPinned.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
}

namespace detail {
void PostFromWorker(std::function<void()> Call) {
  WithPinnedBackend([&](TLoopBackend& B) { B.Post(std::move(Call)); });
}
}  // namespace detail

void TSignal::Set() {
  state_.store(true, std::memory_order_seq_cst);
  WithPinnedBackend([](TLoopBackend& B) { B.Wake(); });
}

}  // namespace kelvora
