// The application's loop back-end: what the components need of an event loop.
// Core ships TPlainLoopBackend; the Qt library supplies another one. Every
// back-end shares the blocking hand-off implemented here, so a worker's call
// into the UI thread costs a queue entry and a wake-up, not a trip through a
// GUI toolkit.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace kelvora {

class TLoopBackend;

// A manual-reset signal. Setting it wakes the UI loop so that a wait on it
// ends promptly.
class TSignal {
 public:
  void Set();
  void Reset() { state_.store(false, std::memory_order_release); }
  bool IsSet() const { return state_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> state_{false};
};

enum class TWaitResult { Signalled, Input, Timeout, Failed };
// SentCalls wakes only for blocking hand-offs from workers; AnyInput also for
// posted calls, due timers and whatever else the back-end counts as input.
enum class TWakeMask { SentCalls, AnyInput };

class TLoopBackend {
 public:
  TLoopBackend();
  virtual ~TLoopBackend();

  // --- blocking hand-off (any thread) ---
  // Runs Call on the UI thread and returns after it ran; an exception thrown
  // by Call is rethrown here. Called on the UI thread itself, Call runs at
  // once. When Cancel is set (now or while queued) the call is dropped and
  // Send returns false without running it.
  bool Send(const std::function<void()>& Call, const std::atomic<bool>* Cancel = nullptr);
  // UI thread: runs every queued hand-off; true when at least one ran.
  bool ServeSentCalls();
  // Drops the queued hand-offs whose Cancel flag is set and releases their
  // senders. Used after setting a cancel flag.
  void DropCancelledCalls();
  bool HasSentCalls() const { return pendingSends_.load(std::memory_order_seq_cst) > 0; }

  // --- the loop (UI thread unless said otherwise) ---
  virtual void Post(std::function<void()> Call) = 0;  // any thread
  // Starts or replaces the timer keyed by (Owner, Id). Returns false when
  // the back-end refuses another timer.
  virtual bool SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) = 0;
  virtual void KillTimer(const void* Owner, unsigned Id) = 0;
  // Processes all pending input: hand-offs, posted calls, due timers.
  virtual void ProcessMessages() = 0;
  // Waits until Signal (may be null) is set, input of the given kind is
  // pending, or TimeoutMs passed (0 = no limit).
  virtual TWaitResult WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) = 0;
  // Runs the loop until Stop becomes true.
  virtual void Run(const std::atomic<bool>& Stop) = 0;
  // Any thread: makes a waiting loop look at its input and signals again.
  virtual void Wake() = 0;

  // How long a sender spins before it parks, and how long the UI thread
  // keeps spinning for more hand-offs before it parks.
  static constexpr std::chrono::microseconds kSpin{50};

 protected:
  // For back-ends: true while the UI thread is (about to be) parked and needs
  // a Wake() to see new input.
  std::atomic<bool> parked_{false};

 private:
  struct SentCall;
  mutable std::mutex sendMutex_;
  std::deque<std::shared_ptr<SentCall>> sends_;
  std::atomic<int> pendingSends_{0};
};

// The loop back-end in force. Defaults to a process-wide plain back-end.
TLoopBackend& LoopBackend();
// Installs Backend (not owned); nullptr returns to the plain back-end.
void SetLoopBackend(TLoopBackend* Backend);

}  // namespace kelvora
