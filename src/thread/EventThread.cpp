#include "framework/DefaultLoop.h"
#include "kelvora/Application.h"
#include "thread/ThreadState.h"
#include "thread/ThreadSystem.h"
#include "thread/WorkerPool.h"

namespace kelvora {

using detail::ThreadState;

namespace {

void ApplyPriority(ThreadState& s) {
  const int64_t tid = s.Tid.load();
  if (tid != 0) detail::ApplyThreadPriority(tid, s.Priority.load());
}

}  // namespace

// Hands Method to the UI thread for the job of State. The call is dropped when
// the job is stopped at once; a body whose job was stopped unwinds. On the UI
// thread itself there is nothing to hand over to: Method runs at once.
void detail::Marshal(ThreadState& s, const std::function<void()>& Method) {
  if (Application().IsMainThread()) {
    Method();
    return;
  }
  if (s.Killed.load()) throw EThreadStop{};
  s.WaitWhileSuspended();
  if (s.Killed.load()) throw EThreadStop{};
  if (!ThreadChannelActive()) return;  // no channel: skipped silently
  std::exception_ptr marshalled;
  LoopBackend().Send(
      [&] {
        if (s.Component->IsDestroying()) return;
        try {
          Method();
        } catch (...) {
          marshalled = std::current_exception();
        }
      },
      &s.Killed);
  if (s.Killed.load()) throw EThreadStop{};
  if (marshalled && !s.HandleExceptions.load()) std::rethrow_exception(marshalled);
}

namespace {
using detail::Marshal;

// Exception step, on the UI thread.
void ExceptionStep(ThreadState& s) {
  if (!s.Component->IsDestroying() && s.OnException) s.OnException(s.Component);
}

void BodyStep(ThreadState& s) {
  if (!s.OnExecute || s.Killed.load()) return;
  if (!s.HandleExceptions.load()) {
    s.OnExecute(s.Component);
    return;
  }
  try {
    s.OnExecute(s.Component);
  } catch (const EThreadStop&) {
    throw;
  } catch (...) {
    // The exception itself is discarded; the handler only learns that one
    // happened.
    Marshal(s, [&s] { ExceptionStep(s); });
  }
}

}  // namespace

// Finish call, on the UI thread.
void detail::FinishCall(ThreadState& s) {
  TkvCustomThread* c = s.Component;
  const bool freeOwner = c->FreeOwnerOnFinish();
  if (s.OnFinish && !c->IsDestroying()) {
    if (s.HandleExceptions.load()) {
      try {
        s.OnFinish(c);
      } catch (...) {
        ExceptionStep(s);
      }
    } else {
      s.OnFinish(c);
    }
  }
  if (freeOwner && c->Owner() != nullptr && c->Thread() == s.Object) {
    // The running object ends through its own procedure and frees itself.
    c->thread_ = s.Object->Clone();
    delete c->Owner();
  }
}

namespace {

void ThreadProc(std::shared_ptr<ThreadState> s) {
  s->Tid.store(detail::CurrentThreadId());
  ApplyPriority(*s);
  detail::SetCurrentJob(s.get());
  if (!s->Terminated.load()) {
    s->Running.store(true);
    bool finish = true;
    try {
      BodyStep(*s);
    } catch (const EThreadStop&) {
      finish = false;  // stopped at once: no finish step
    } catch (...) {
      // With HandleExceptions off the exception leaves the body; it ends
      // here, after the finish step below.
    }
    if (finish) {
      s->Ending.store(true);
      try {
        Marshal(*s, [&s] { detail::FinishCall(*s); });
      } catch (...) {
      }
    }
    s->Running.store(false);
  }
  detail::SetCurrentJob(nullptr);
  if (s->FreeOnTerminate.load() && !s->Killed.load()) {
    // Freed on the UI thread, where every other owner of the object lives,
    // unless something there freed it first.
    detail::PostFromWorker([s] {
      if (!s->ObjectGone) delete s->Object;
    });
  }
  // Whoever sees the job end may give its thread the next one.
  detail::TWorkerCarrier::JobDone();
  s->Finished.Set();
  {
    std::lock_guard lk(s->Mutex);
    s->Ended = true;
  }
  s->Resumed.notify_all();
}

}  // namespace

TkvEventThread::TkvEventThread(TkvCustomThread* AOwner) : owner_(AOwner), state_(std::make_shared<ThreadState>()) {
  if (AOwner != nullptr) pool_ = AOwner->pool_;
  state_->Component = AOwner;
  state_->Object = this;
  if (AOwner != nullptr) state_->HandleExceptions.store(AOwner->HandleExceptions());
  detail::RegisterThreadObject();
}

TkvEventThread::~TkvEventThread() {
  ThreadState& s = *state_;
  s.Terminated.store(true);
  if (carrier_) {
    // A job stopped at once is let go: its body unwinds on its own.
    if (!s.Killed.load()) {
      {
        // A body held at a hand-off must be let go to see Terminated.
        std::lock_guard lk(s.Mutex);
        s.SuspendCount = 0;
      }
      s.Resumed.notify_all();
      WaitFor();
    }
  }
  s.ObjectGone = true;
  detail::UnregisterThreadObject();
}

void TkvEventThread::Start() {
  std::function<void()> job = [s = state_] { ThreadProc(s); };
  if (pool_) {
    carrier_ = pool_->Run(std::move(job), state_->Priority.load());
  } else {
    carrier_ = detail::TWorkerCarrier::Launch(std::move(job));
    carrier_->Retire();  // this one job only
  }
}

void TkvEventThread::Suspend() {
  state_->Suspended.store(true);
  std::lock_guard lk(state_->Mutex);
  ++state_->SuspendCount;
}

int TkvEventThread::Resume() {
  ThreadState& s = *state_;
  int previous;
  bool start = false;
  {
    std::lock_guard lk(s.Mutex);
    previous = s.SuspendCount;
    if (s.SuspendCount > 0) --s.SuspendCount;
    if (s.SuspendCount == 0 && !s.Started) start = s.Started = true;
  }
  if (previous == 1) s.Suspended.store(false);
  if (start)
    Start();
  else
    s.Resumed.notify_all();
  return previous;
}

bool TkvEventThread::Suspended() const { return state_->Suspended.load(); }

void TkvEventThread::SetSuspended(bool Value) {
  if (Value == Suspended()) return;
  if (Value)
    Suspend();
  else
    Resume();
}

void TkvEventThread::Terminate() { state_->Terminated.store(true); }
bool TkvEventThread::Terminated() const { return state_->Terminated.load(); }
bool TkvEventThread::Running() const { return state_->Running.load(); }
bool TkvEventThread::FreeOnTerminate() const { return state_->FreeOnTerminate.load(); }
void TkvEventThread::SetFreeOnTerminate(bool Value) { state_->FreeOnTerminate.store(Value); }
int64_t TkvEventThread::ThreadID() const { return state_->Tid.load(); }
const TSignal& TkvEventThread::Finished() const { return state_->Finished; }
void TkvEventThread::SetHandleExceptions(bool Value) { state_->HandleExceptions.store(Value); }

uint32_t TkvEventThread::WaitFor() {
  if (!carrier_) return 0;
  if (Application().IsMainThread()) {
    // Serve the worker's hand-offs (and nothing else) until it has ended.
    TLoopBackend& loop = LoopBackend();
    while (!state_->Finished.IsSet())
      if (loop.WaitFor(&state_->Finished, 0, TWakeMask::SentCalls) == TWaitResult::Input) loop.ServeSentCalls();
  }
  // The job's own end; its carrier goes on to the next one.
  std::unique_lock lk(state_->Mutex);
  state_->Resumed.wait(lk, [this] { return state_->Ended; });
  return 0;
}

TThreadPriority TkvEventThread::Priority() const {
  int64_t tid = state_->Tid.load();
  if (tid != 0 && !state_->Finished.IsSet()) {
    int value = 0;
    if (detail::ReadThreadPriority(tid, value)) return OSValueToPriority(value);
  }
  return OSValueToPriority(state_->Priority.load());
}

void TkvEventThread::SetPriority(TThreadPriority Value) {
  state_->Priority.store(PriorityToOSValue(Value));
  if (!state_->Finished.IsSet()) ApplyPriority(*state_);
}

void TkvEventThread::Synchronize(const std::function<void()>& Method) { Marshal(*state_, Method); }

TkvEventThread* TkvEventThread::Clone() const {
  auto* clone = new TkvEventThread(owner_);
  try {
    clone->state_->Priority.store(state_->Priority.load());
    clone->state_->OnExecute = state_->OnExecute;
    clone->state_->OnException = state_->OnException;
    clone->state_->OnFinish = state_->OnFinish;
  } catch (...) {
    delete clone;
    throw;
  }
  return clone;
}

TkvEventThread* TkvEventThread::Kill() {
  ThreadState& s = *state_;
  bool started;
  {
    std::lock_guard lk(s.Mutex);
    started = s.Started;
  }
  if (started && !s.Finished.IsSet()) {
    // No safe way to stop an OS thread here: mark the job stopped so its
    // hand-offs are dropped and its body unwinds at the next one, let go of
    // it, and keep its state alive through shared ownership.
    s.Terminated.store(true);
    {
      std::lock_guard lk(s.Mutex);
      s.Killed.store(true);
    }
    s.Resumed.notify_all();
    LoopBackend().DropCancelledCalls();
    // Mid-body, the carrier stays with the body until it has unwound; the
    // next job gets another one. In the finish hand-off it ends at once.
    if (carrier_ && pool_ && !s.Ending.load()) pool_->Retire(carrier_);
  }
  TkvEventThread* clone = Clone();
  delete this;
  return clone;
}

void TkvEventThread::SetOnExecute(TNotifyEvent Handler) { state_->OnExecute = std::move(Handler); }
void TkvEventThread::SetOnException(TNotifyEvent Handler) { state_->OnException = std::move(Handler); }
void TkvEventThread::SetOnFinish(TNotifyEvent Handler) { state_->OnFinish = std::move(Handler); }
TNotifyEvent TkvEventThread::OnExecute() const { return state_->OnExecute; }
TNotifyEvent TkvEventThread::OnException() const { return state_->OnException; }
TNotifyEvent TkvEventThread::OnFinish() const { return state_->OnFinish; }

}  // namespace kelvora
