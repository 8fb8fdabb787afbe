// Unit kvThread: the worker thread object TkvEventThread and the component
// TkvCustomThread that runs each job on a fresh thread object and hands calls
// from the worker back to the UI thread.
#pragma once

#include "kelvora/kelvora_export.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "kelvora/Component.h"
#include "kelvora/LoopBackend.h"

namespace kelvora {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// OS priority values of the seven priorities, in enumeration order.
inline constexpr int kThreadPriorityValues[7] = {-15, -2, -1, 0, 1, 2, 15};
// The OS value of a priority, and the priority of an OS value (tpNormal when
// the value is not in the table).
KELVORA_EXPORT int PriorityToOSValue(TThreadPriority Priority);
KELVORA_EXPORT TThreadPriority OSValueToPriority(int Value);
// On this system an OS value is a per-thread nice value: higher priority,
// lower nice.
KELVORA_EXPORT int OSValueToNice(int Value);
KELVORA_EXPORT int NiceToOSValue(int Nice);

// Unwinds the body of a job that was stopped at once (killed from outside, or
// ended by Terminate(true) from inside). It is not a std::exception so that
// ordinary handlers leave it alone; bodies must not swallow it with catch(...).
struct KELVORA_EXPORT EThreadStop {};

class TkvCustomThread;
using TkvWaitTimeoutEvent = std::function<void(TObject* Sender, bool& StopJob)>;

namespace detail {
struct ThreadState;
class TWorkerCarrier;
class TWorkerPool;
KELVORA_EXPORT void FinishCall(ThreadState& State);
}

class KELVORA_EXPORT TkvEventThread : public TObject {
 public:
  // Created suspended; the OS thread starts at the first Resume.
  explicit TkvEventThread(TkvCustomThread* AOwner);
  ~TkvEventThread() override;

  void Suspend();
  // Returns the previous suspend count; Suspended clears when it was 1.
  int Resume();
  bool Suspended() const;
  void SetSuspended(bool Value);
  void Terminate();
  bool Terminated() const;
  bool Running() const;
  bool FreeOnTerminate() const;
  void SetFreeOnTerminate(bool Value);
  // Waits for the OS thread to end; on the UI thread, the worker's hand-offs
  // are served meanwhile. Returns the exit code (always 0).
  uint32_t WaitFor();
  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority Value);
  // Runs Method on the UI thread and returns after it ran (called on the UI
  // thread, it runs Method at once). Raises EThreadStop in a body whose job
  // was stopped at once.
  void Synchronize(const std::function<void()>& Method);
  // A new suspended thread object for the same owner with this one's
  // priority and handlers.
  TkvEventThread* Clone() const;
  // Stops a running job at once (see TkvCustomThread::Terminate), frees this
  // object and returns its clone.
  TkvEventThread* Kill();

  // Kernel thread id of the worker, 0 before it started.
  int64_t ThreadID() const;
  TkvCustomThread* Owner() const { return owner_; }
  // Set when the OS thread procedure has ended.
  const TSignal& Finished() const;

  void SetOnExecute(TNotifyEvent Handler);
  void SetOnException(TNotifyEvent Handler);
  void SetOnFinish(TNotifyEvent Handler);
  TNotifyEvent OnExecute() const;
  TNotifyEvent OnException() const;
  TNotifyEvent OnFinish() const;
  // Copied from the owner when the job starts.
  void SetHandleExceptions(bool Value);

 private:
  friend class TkvCustomThread;
  void Start();

  TkvCustomThread* owner_;
  std::shared_ptr<detail::ThreadState> state_;
  // The owner's OS threads, and the one that took this job once started.
  std::shared_ptr<detail::TWorkerPool> pool_;
  std::shared_ptr<detail::TWorkerCarrier> carrier_;
};

class KELVORA_EXPORT TkvCustomThread : public TComponent {
 public:
  explicit TkvCustomThread(TComponent* AOwner);
  ~TkvCustomThread() override;

  void Loaded() override;

  // Starts a job on a fresh thread object; its OS thread is one the
  // component keeps between jobs when one is idle. True when started (or, with
  // WaitThread, waited for and ended); false when the wait timed out and the
  // job was stopped.
  bool Execute();
  void Suspend();
  // False: only sets the job's Terminated flag. True: stops the job at once
  // and puts a fresh thread object in place. Called with True from the job's
  // own body, it ends the body on the spot (the finish step does not run).
  void Terminate(bool Immediately);
  // From the job's body: runs Method on the UI thread. Skipped while the
  // owner is being destroyed. On the UI thread it runs Method at once.
  void Synchronize(const std::function<void()>& Method);

  bool Running() const;
  bool Terminated() const;
  TThreadPriority Priority() const;
  void SetPriority(TThreadPriority Value);
  bool Suspended() const;
  void SetSuspended(bool Value);

  TNotifyEvent OnExecute() const;
  void SetOnExecute(TNotifyEvent Handler);
  TNotifyEvent OnException() const;
  void SetOnException(TNotifyEvent Handler);
  TNotifyEvent OnFinish() const;
  void SetOnFinish(TNotifyEvent Handler);

  bool HandleExceptions() const { return handleExceptions_; }
  void SetHandleExceptions(bool Value) { handleExceptions_ = Value; }
  bool FreeOwnerOnFinish() const { return freeOwnerOnFinish_; }
  void SetFreeOwnerOnFinish(bool Value) { freeOwnerOnFinish_ = Value; }
  bool WaitThread() const { return waitThread_; }
  void SetWaitThread(bool Value) { waitThread_ = Value; }
  uint32_t WaitTimeout() const { return waitTimeout_; }
  void SetWaitTimeout(uint32_t Value) { waitTimeout_ = Value; }
  TkvWaitTimeoutEvent OnWaitTimeout;

  // The current thread object (replaced by Execute and Terminate(true)).
  TkvEventThread* Thread() const { return thread_; }

 private:
  friend void detail::FinishCall(detail::ThreadState& State);
  friend class TkvEventThread;
  TkvEventThread* thread_ = nullptr;
  bool storedSuspended_ = true;
  bool handleExceptions_ = true;
  bool freeOwnerOnFinish_ = false;
  bool waitThread_ = false;
  uint32_t waitTimeout_ = 0;
  // Jobs started so far: lets a wait tell a job started by a handler from a
  // fresh thread object put in place by a stop at once.
  uint64_t executions_ = 0;
  // Lets a wait that runs handlers notice that one of them freed us.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::shared_ptr<detail::TWorkerPool> pool_;
};

// For a job's body: the same as its component's Synchronize and Terminated,
// without touching the component. A body whose job may be stopped at once
// (and its component freed) uses these, since the component may be gone by
// the time it next looks. Outside a job's body, SynchronizeCurrentJob runs
// Method directly and CurrentJobTerminated is false.
KELVORA_EXPORT void SynchronizeCurrentJob(const std::function<void()>& Method);
KELVORA_EXPORT bool CurrentJobTerminated();

// The per-process hand-off channel exists from the first thread object to the
// last. These report its state.
KELVORA_EXPORT int ThreadObjectCount();
KELVORA_EXPORT bool ThreadChannelActive();

}  // namespace kelvora
