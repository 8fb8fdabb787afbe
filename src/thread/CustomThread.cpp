#include "kelvora/Application.h"
#include "thread/ThreadState.h"
#include "thread/WorkerPool.h"

namespace kelvora {

TkvCustomThread::TkvCustomThread(TComponent* AOwner)
    : TComponent(AOwner), pool_(std::make_shared<detail::TWorkerPool>()) {
  Application();  // the UI thread is the one that creates components
  thread_ = new TkvEventThread(this);
}

TkvCustomThread::~TkvCustomThread() {
  Destroying();
  *alive_ = false;
  if (thread_ != nullptr) {
    if (thread_->Running()) Terminate(true);
    delete thread_;
    thread_ = nullptr;
  }
  pool_->Shutdown();
}

void TkvCustomThread::Loaded() {
  TComponent::Loaded();
  if (thread_ != nullptr) thread_->SetSuspended(storedSuspended_);
}

bool TkvCustomThread::Execute() {
  Terminate(true);
  ++executions_;
  TkvEventThread* job = thread_;
  if (freeOwnerOnFinish_) job->SetFreeOnTerminate(true);
  job->SetHandleExceptions(handleExceptions_);
  job->Resume();
  if (!waitThread_) return true;

  // Keep what the wait needs: handlers that run inside it may replace the
  // thread object or free this component. The job's state is held, not the
  // object, so it cannot be mistaken for a new object at a freed address.
  std::weak_ptr<bool> alive = alive_;
  std::shared_ptr<detail::ThreadState> state = job->state_;
  uint64_t started = executions_;
  TLoopBackend& loop = LoopBackend();
  for (;;) {
    TWaitResult r = loop.WaitFor(&state->Finished, waitTimeout_, TWakeMask::AnyInput);
    if (r == TWaitResult::Timeout) {
      bool stopJob = true;
      if (OnWaitTimeout) OnWaitTimeout(this, stopJob);
      if (stopJob && !alive.expired() && thread_ != nullptr && thread_->state_ == state) Terminate(true);
      return !stopJob;
    }
    Application().ProcessMessages();
    if (alive.expired()) return true;
    if (r != TWaitResult::Input || IsDestroying() || Application().Terminated()) return true;
    if (thread_ == nullptr) return true;
    if (thread_->state_ != state) {
      // A handler started another job: wait for that one. Stopped at once
      // with no job running since: nothing is left to wait for.
      std::shared_ptr<detail::ThreadState> next = thread_->state_;
      bool nextStarted;
      {
        std::lock_guard lk(next->Mutex);
        nextStarted = next->Started;
      }
      if (executions_ == started || !nextStarted) return true;
      started = executions_;
      state = std::move(next);
    }
  }
}

void TkvCustomThread::Suspend() {
  if (thread_ != nullptr) thread_->Suspend();
}

void TkvCustomThread::Terminate(bool Immediately) {
  detail::ThreadState* current = detail::CurrentJob();
  if (Immediately && current != nullptr && current->Component == this) {
    // Called from the job's own body: end it here.
    current->Terminated.store(true);
    throw EThreadStop{};
  }
  if (thread_ == nullptr) return;
  if (Immediately)
    thread_ = thread_->Kill();
  else
    thread_->Terminate();
}

void TkvCustomThread::Synchronize(const std::function<void()>& Method) {
  auto guarded = [this, &Method] {
    if (Owner() != nullptr && Owner()->IsDestroying()) return;
    Method();
  };
  // On the worker, go through the job's own state: the UI thread may replace
  // the current thread object meanwhile.
  detail::ThreadState* current = detail::CurrentJob();
  if (current != nullptr && current->Component == this)
    detail::Marshal(*current, guarded);
  else if (thread_ != nullptr)
    thread_->Synchronize(guarded);
}

void SynchronizeCurrentJob(const std::function<void()>& Method) {
  detail::ThreadState* current = detail::CurrentJob();
  if (current == nullptr) {
    Method();
    return;
  }
  detail::Marshal(*current, [current, &Method] {
    TComponent* owner = current->Component->Owner();
    if (owner != nullptr && owner->IsDestroying()) return;
    Method();
  });
}

bool CurrentJobTerminated() {
  detail::ThreadState* current = detail::CurrentJob();
  return current != nullptr && current->Terminated.load();
}

bool TkvCustomThread::Running() const { return thread_ != nullptr && thread_->Running(); }
bool TkvCustomThread::Terminated() const { return thread_ != nullptr && thread_->Terminated(); }
TThreadPriority TkvCustomThread::Priority() const { return thread_ != nullptr ? thread_->Priority() : tpNormal; }
void TkvCustomThread::SetPriority(TThreadPriority Value) {
  if (thread_ != nullptr) thread_->SetPriority(Value);
}

bool TkvCustomThread::Suspended() const {
  if (IsDesigning() || thread_ == nullptr) return storedSuspended_;
  return thread_->Suspended();
}

void TkvCustomThread::SetSuspended(bool Value) {
  storedSuspended_ = Value;
  if (!IsDesigning() && thread_ != nullptr) thread_->SetSuspended(Value);
}

TNotifyEvent TkvCustomThread::OnExecute() const { return thread_->OnExecute(); }
void TkvCustomThread::SetOnExecute(TNotifyEvent Handler) { thread_->SetOnExecute(std::move(Handler)); }
TNotifyEvent TkvCustomThread::OnException() const { return thread_->OnException(); }
void TkvCustomThread::SetOnException(TNotifyEvent Handler) { thread_->SetOnException(std::move(Handler)); }
TNotifyEvent TkvCustomThread::OnFinish() const { return thread_->OnFinish(); }
void TkvCustomThread::SetOnFinish(TNotifyEvent Handler) { thread_->SetOnFinish(std::move(Handler)); }

}  // namespace kelvora
