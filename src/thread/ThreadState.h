// State of one job's OS thread, shared by the thread object and the running
// body so that a body stopped at once can unwind without touching anything
// that was freed under it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "kelvora/kvThread.h"

namespace kelvora::detail {

struct ThreadState {
  TkvCustomThread* Component = nullptr;  // Sender of the handlers
  TkvEventThread* Object = nullptr;      // freed by the thread itself with FreeOnTerminate

  std::atomic<bool> Terminated{false};
  std::atomic<bool> Suspended{true};
  std::atomic<bool> Running{false};
  std::atomic<bool> FreeOnTerminate{false};
  // Stopped at once: hand-offs are dropped and the body unwinds.
  std::atomic<bool> Killed{false};
  std::atomic<bool> HandleExceptions{true};
  // The body is done and only the finish hand-off is left: a stop at once
  // now leaves the carrier fit for later jobs.
  std::atomic<bool> Ending{false};
  std::atomic<int> Priority{0};  // OS value
  std::atomic<int64_t> Tid{0};
  TSignal Finished;
  // UI thread only: the thread object was freed.
  bool ObjectGone = false;

  // Suspension: the OS thread starts when the count first drops to 0, and a
  // running body waits at its next hand-off while the count is above 0.
  std::mutex Mutex;
  std::condition_variable Resumed;
  int SuspendCount = 1;
  bool Started = false;
  bool Ended = false;  // Finished, for waits off the UI thread (Resumed is notified)

  // Written on the UI thread before the job starts; the worker reads
  // OnExecute, the UI thread the others.
  TNotifyEvent OnExecute, OnException, OnFinish;

  void WaitWhileSuspended() {
    std::unique_lock lk(Mutex);
    Resumed.wait(lk, [this] { return SuspendCount == 0 || Killed.load(); });
  }
};

// The state of the job whose body runs on the calling thread, if any.
ThreadState* CurrentJob();
void SetCurrentJob(ThreadState* State);

// Runs Method on the UI thread for the job of State (see Synchronize).
void Marshal(ThreadState& State, const std::function<void()>& Method);

// Registration with the per-process hand-off channel.
void RegisterThreadObject();
void UnregisterThreadObject();

}  // namespace kelvora::detail
