// The loop back-end of Qt applications: posted calls, timers and waits run
// on the Qt event loop of the UI thread, and workers' blocking hand-offs are
// served whenever that loop wakes, also inside modal dialogs. A wake-up is
// a write to an eventfd that a socket notifier of the UI thread watches, so
// other threads never touch Qt's own data.
//
// Create it on the UI thread after the QApplication, install it with
// SetLoopBackend(&loop), and uninstall it (SetLoopBackend(nullptr)) before
// it is destroyed.
#pragma once

#include "kelvora/kelvora_qt_export.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "kelvora/LoopBackend.h"

class QSocketNotifier;

namespace kelvora {

namespace qtdetail {
class TQtLoopAgent;
}

class KELVORA_QT_EXPORT TQtLoopBackend : public TLoopBackend {
 public:
  TQtLoopBackend();
  ~TQtLoopBackend() override;
  TQtLoopBackend(const TQtLoopBackend&) = delete;
  TQtLoopBackend& operator=(const TQtLoopBackend&) = delete;

  void Post(std::function<void()> Call) override;
  bool SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) override;
  void KillTimer(const void* Owner, unsigned Id) override;
  void ProcessMessages() override;
  TWaitResult WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) override;
  void Run(const std::atomic<bool>& Stop) override;
  void Wake() override;

  int TimerCount() const;
  bool HasTimer(const void* Owner, unsigned Id) const;

 private:
  friend class qtdetail::TQtLoopAgent;
  struct Timer {
    int QtId = 0;
    std::function<void()> OnTimer;
  };
  using TimerKey = std::pair<const void*, unsigned>;

  // Called on the UI thread when the wake-up descriptor is readable.
  void OnWakeEvent();
  // Ends QCoreApplication::exec once the application was asked to end.
  void EndExecOnTermination();
  void OnQtTimer(int QtId);
  // Runs the calls posted so far; true when there were any.
  bool RunPostedCalls();
  // Runs Call, keeping its exception for the next ProcessMessages or Run:
  // an exception must not unwind through Qt's event delivery.
  void Guarded(const std::function<void()>& Call);
  void RethrowKept();
  TWaitResult WaitForSentCalls(const TSignal* Signal, unsigned TimeoutMs);

  std::unique_ptr<qtdetail::TQtLoopAgent> agent_;
  int wakeFd_ = -1;
  QSocketNotifier* wakeNotifier_ = nullptr;  // owned by agent_

  // Posted calls and the wake-up state, shared with other threads.
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> posted_;
  std::atomic<int> postedCount_{0};
  std::atomic<uint64_t> wakeSeq_{0};
  std::atomic<int> cvWaiters_{0};
  std::atomic<bool> wakePending_{false};

  // UI thread only.
  std::map<TimerKey, Timer> timers_;
  std::exception_ptr keptError_;
  bool exitSent_ = false;
};

}  // namespace kelvora
