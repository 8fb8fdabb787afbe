#include "kelvora/qt/kvQtLoop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "kelvora/Application.h"
#include "qt/QtLoopAgent.h"

namespace kelvora {

using Clock = std::chrono::steady_clock;

TQtLoopBackend::TQtLoopBackend() {
  if (QCoreApplication::instance() == nullptr) throw std::logic_error("TQtLoopBackend needs a QCoreApplication");
  agent_ = std::make_unique<qtdetail::TQtLoopAgent>(*this);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  wakeNotifier_ = new QSocketNotifier(static_cast<qintptr>(wakeFd_), QSocketNotifier::Read, agent_.get());
  QObject::connect(wakeNotifier_, &QSocketNotifier::activated, agent_.get(), [this] { OnWakeEvent(); });
  // Qt may be blocked anywhere (its own loop, a modal dialog): every
  // hand-off asks for a wake-up, which costs one coalesced posted event.
  parked_.store(true, std::memory_order_seq_cst);
}

TQtLoopBackend::~TQtLoopBackend() {
  for (auto& [key, t] : timers_) agent_->killTimer(t.QtId);
  timers_.clear();
  delete wakeNotifier_;
  ::close(wakeFd_);
}

void TQtLoopBackend::Post(std::function<void()> Call) {
  {
    std::lock_guard lk(mutex_);
    posted_.push_back(std::move(Call));
    postedCount_.fetch_add(1, std::memory_order_seq_cst);
  }
  Wake();
}

void TQtLoopBackend::Wake() {
  wakeSeq_.fetch_add(1, std::memory_order_seq_cst);
  if (cvWaiters_.load(std::memory_order_seq_cst) > 0) {
    // Taking the lock orders this notify after the waiter's check.
    { std::lock_guard lk(mutex_); }
    cv_.notify_all();
  }
  // One unread wake-up at a time; Qt's loop (any of them, modal ones too)
  // sees the descriptor readable and calls OnWakeEvent.
  if (!wakePending_.exchange(true, std::memory_order_seq_cst)) {
    const uint64_t one = 1;
    ssize_t n;
    do n = ::write(wakeFd_, &one, sizeof one);
    while (n < 0 && errno == EINTR);
  }
}

void TQtLoopBackend::Guarded(const std::function<void()>& Call) {
  try {
    Call();
  } catch (...) {
    if (!keptError_) keptError_ = std::current_exception();
  }
}

void TQtLoopBackend::RethrowKept() {
  if (!keptError_) return;
  std::exception_ptr e = std::move(keptError_);
  keptError_ = nullptr;
  std::rethrow_exception(e);
}

bool TQtLoopBackend::RunPostedCalls() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lk(mutex_);
    batch.swap(posted_);
    postedCount_.store(0, std::memory_order_seq_cst);
  }
  // One failing call must not lose the others queued behind it.
  for (auto& call : batch) Guarded(call);
  return !batch.empty();
}

void TQtLoopBackend::OnWakeEvent() {
  uint64_t count;
  while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
  // Cleared before serving, so a wake-up from now on writes again.
  wakePending_.store(false, std::memory_order_seq_cst);
  ServeSentCalls();
  RunPostedCalls();
  EndExecOnTermination();
}

bool TQtLoopBackend::SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) {
  const TimerKey key(Owner, Id);
  const int interval = IntervalMs > static_cast<unsigned>(INT32_MAX) ? INT32_MAX : static_cast<int>(IntervalMs);
  const int qtId = agent_->startTimer(interval, Qt::PreciseTimer);
  if (qtId == 0) return false;  // Qt refused; an existing timer stays as it was
  auto it = timers_.find(key);
  if (it != timers_.end()) agent_->killTimer(it->second.QtId);
  timers_[key] = Timer{qtId, std::move(OnTimer)};
  return true;
}

void TQtLoopBackend::KillTimer(const void* Owner, unsigned Id) {
  auto it = timers_.find(TimerKey(Owner, Id));
  if (it == timers_.end()) return;
  agent_->killTimer(it->second.QtId);
  timers_.erase(it);
}

int TQtLoopBackend::TimerCount() const { return static_cast<int>(timers_.size()); }

bool TQtLoopBackend::HasTimer(const void* Owner, unsigned Id) const { return timers_.count(TimerKey(Owner, Id)) != 0; }

void TQtLoopBackend::OnQtTimer(int QtId) {
  for (auto& [key, t] : timers_) {
    if (t.QtId != QtId) continue;
    // A copy: the handler may kill or replace its own timer.
    std::function<void()> fn = t.OnTimer;
    if (fn) Guarded(fn);
    return;
  }
}

void TQtLoopBackend::ProcessMessages() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  for (;;) {
    bool any = ServeSentCalls();
    if (RunPostedCalls()) any = true;
    if (!any) break;
  }
  RethrowKept();
}

TWaitResult TQtLoopBackend::WaitForSentCalls(const TSignal* Signal, unsigned TimeoutMs) {
  const auto deadline = TimeoutMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(TimeoutMs);
  const uint64_t seen = wakeSeq_.load(std::memory_order_seq_cst);
  std::unique_lock lk(mutex_);
  cvWaiters_.fetch_add(1, std::memory_order_seq_cst);
  TWaitResult result = TWaitResult::Timeout;
  for (;;) {
    if (Signal != nullptr && Signal->IsSet()) {
      result = TWaitResult::Signalled;
      break;
    }
    if (HasSentCalls() || wakeSeq_.load(std::memory_order_seq_cst) != seen) {
      result = TWaitResult::Input;
      break;
    }
    if (deadline == Clock::time_point::max()) {
      cv_.wait(lk);
    } else if (cv_.wait_until(lk, deadline) == std::cv_status::timeout) {
      if (Signal != nullptr && Signal->IsSet()) result = TWaitResult::Signalled;
      else if (HasSentCalls()) result = TWaitResult::Input;
      break;
    }
  }
  cvWaiters_.fetch_sub(1, std::memory_order_seq_cst);
  return result;
}

TWaitResult TQtLoopBackend::WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) {
  if (Mask == TWakeMask::SentCalls) return WaitForSentCalls(Signal, TimeoutMs);

  const auto deadline = TimeoutMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(TimeoutMs);
  const uint64_t seen = wakeSeq_.load(std::memory_order_seq_cst);
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(agent_->thread());
  if (dispatcher == nullptr) return TWaitResult::Failed;
  for (;;) {
    if (Signal != nullptr && Signal->IsSet()) return TWaitResult::Signalled;
    if (HasSentCalls() || postedCount_.load(std::memory_order_seq_cst) > 0 || keptError_) return TWaitResult::Input;
    // A bare Wake() counts as input, so a loop waiting for nothing in
    // particular looks at its stop flag.
    if (wakeSeq_.load(std::memory_order_seq_cst) != seen) return TWaitResult::Input;

    // Qt's own wait, bounded by a timer of our own when a limit is given.
    bool guardFired = false;
    QTimer guard;
    if (deadline != Clock::time_point::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return TWaitResult::Timeout;
      guard.setSingleShot(true);
      guard.setTimerType(Qt::PreciseTimer);
      QObject::connect(&guard, &QTimer::timeout, [&guardFired] { guardFired = true; });
      guard.start(static_cast<int>(std::min<long long>(left, INT32_MAX)));
    }
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (!guardFired) {
      // Something was processed (Qt input, a timer, a wake-up); our own
      // calls may have run inside it.
      if (Signal != nullptr && Signal->IsSet()) return TWaitResult::Signalled;
      return TWaitResult::Input;
    }
  }
}

void TQtLoopBackend::Run(const std::atomic<bool>& Stop) {
  while (!Stop.load(std::memory_order_acquire)) {
    WaitFor(nullptr, 0, TWakeMask::AnyInput);
    ProcessMessages();
  }
}

void TQtLoopBackend::EndExecOnTermination() {
  // The application was asked to end (TApplication::Terminate wakes the
  // loop): a host that runs QApplication::exec instead of Application().Run()
  // gets its exec ended too, once per termination. Only while a Qt event
  // loop runs (this back-end's own waits run none): called outside one, Qt
  // would end every event loop started later, modal dialogs' too.
  const bool terminated = Application().Terminated();
  if (terminated && !exitSent_ && QThread::currentThread()->loopLevel() > 0) {
    exitSent_ = true;
    QCoreApplication::exit(0);
  }
  if (!terminated) exitSent_ = false;
}

}  // namespace kelvora
