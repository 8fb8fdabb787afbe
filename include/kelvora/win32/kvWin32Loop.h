// The loop back-end of Windows programs, and the default there: posted calls,
// timers and waits run on the UI thread's message queue through a
// message-only window, so the program's own message loop serves them, and so
// does any modal loop (a message box, a dialog) that runs meanwhile. Waits
// use MsgWaitForMultipleObjectsEx: the wake mask for hand-offs only lets the
// system's sent messages through as well, so a window of another thread that
// sends to this one is never blocked by a wait; the mask for any input
// returns for every message of the thread.
//
// Create it on the UI thread; the thread that creates it owns its window and
// must be the one that runs ProcessMessages, WaitFor and Run.
#pragma once

#include "kelvora/kelvora_export.h"

#include <memory>

#include "kelvora/LoopBackend.h"

namespace kelvora {

namespace win32detail {
struct TLoopWindow;
}

class KELVORA_EXPORT TWin32LoopBackend : public TLoopBackend {
 public:
  TWin32LoopBackend();
  ~TWin32LoopBackend() override;
  TWin32LoopBackend(const TWin32LoopBackend&) = delete;
  TWin32LoopBackend& operator=(const TWin32LoopBackend&) = delete;

  void Post(std::function<void()> Call) override;
  // SetTimer-like: a timer keyed by (Owner, Id) fires on the UI thread every
  // IntervalMs (at least the system's minimum of 10 ms), also inside modal
  // loops; false when the system refuses another timer. Called from another
  // thread, the start is handed to the UI thread and the call returns true;
  // a refusal there drops the timer (HasTimer tells).
  bool SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) override;
  void KillTimer(const void* Owner, unsigned Id) override;
  // Hand-offs, posted calls, then every message of the thread (translated and
  // dispatched, so the host's own windows are served too). A WM_QUIT
  // terminates the application. An exception of a posted call or a timer is
  // raised here once the rest has run.
  void ProcessMessages() override;
  TWaitResult WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) override;
  void Run(const std::atomic<bool>& Stop) override;
  void Wake() override;

  int TimerCount() const;
  bool HasTimer(const void* Owner, unsigned Id) const;

 private:
  friend struct win32detail::TLoopWindow;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvora
