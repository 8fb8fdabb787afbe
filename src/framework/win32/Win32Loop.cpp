#include "kelvora/win32/kvWin32Loop.h"

#include <windows.h>

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "kelvora/Application.h"
#include "kelvora/Types.h"

namespace kelvora {

namespace {

using Clock = std::chrono::steady_clock;

// Posted to the loop's window when there is something to serve: a hand-off,
// a posted call or a bare wake-up. At most one is in the queue at a time.
constexpr UINT kWakeMessage = WM_APP + 0x2A;
constexpr wchar_t kClassName[] = L"TkvLoopWindow";
// Bounds of one ProcessMessages call, so that a flood of messages (or a call
// that posts itself again) cannot keep it from returning.
constexpr int kMaxRounds = 64;
constexpr int kMaxMessagesPerRound = 4096;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

struct TWin32LoopBackend::Impl {
  using Key = std::pair<const void*, unsigned>;
  struct Timer {
    UINT_PTR SystemId;
    std::function<void()> OnTimer;
  };

  HWND Window = nullptr;
  DWORD ThreadId = 0;
  HANDLE WakeEvent = nullptr;  // auto-reset: ends a wait for hand-offs only

  std::mutex Mutex;
  std::deque<std::function<void()>> Posted;
  std::atomic<int> PostedCount{0};
  std::atomic<bool> WakePosted{false};
  std::atomic<uint64_t> WakeSeq{0};

  mutable std::mutex TimerMutex;
  std::map<Key, Timer> Timers;
  std::map<UINT_PTR, Key> TimerKeys;
  UINT_PTR NextSystemId = 1;

  // UI thread: the first exception of a call run from the window procedure,
  // raised by the next ProcessMessages.
  std::exception_ptr PendingError;

  bool OnUIThread() const { return ::GetCurrentThreadId() == ThreadId; }

  void PostWakeMessage() {
    if (WakePosted.exchange(true)) return;
    // A full queue loses this one; the next wake-up tries again.
    if (!::PostMessageW(Window, kWakeMessage, 0, 0)) WakePosted.store(false);
  }

  // Runs the calls posted so far; the first exception is kept in Error and
  // the rest still run.
  bool RunPosted(std::exception_ptr& Error) {
    if (PostedCount.load(std::memory_order_seq_cst) == 0) return false;
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lk(Mutex);
      batch.swap(Posted);
      PostedCount.store(0, std::memory_order_seq_cst);
    }
    for (auto& call : batch) {
      try {
        call();
      } catch (...) {
        if (!Error) Error = std::current_exception();
      }
    }
    return !batch.empty();
  }

  void FireTimer(UINT_PTR SystemId, std::exception_ptr& Error) {
    std::function<void()> fn;
    {
      std::lock_guard lk(TimerMutex);
      auto key = TimerKeys.find(SystemId);
      if (key == TimerKeys.end()) return;  // killed while its message waited
      fn = Timers.at(key->second).OnTimer;
    }
    if (!fn) return;
    try {
      fn();
    } catch (...) {
      if (!Error) Error = std::current_exception();
    }
  }
};

// The window procedure: serves the loop inside any message loop of the UI
// thread. Nothing may leave it by an exception.
struct win32detail::TLoopWindow {
  static LRESULT CALLBACK Proc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    auto* loop = reinterpret_cast<TWin32LoopBackend*>(::GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (loop == nullptr) return ::DefWindowProcW(Window, Message, WParam, LParam);
    TWin32LoopBackend::Impl& d = *loop->impl_;
    switch (Message) {
      case kWakeMessage:
        d.WakePosted.store(false);
        try {
          loop->ServeSentCalls();
        } catch (...) {
          if (!d.PendingError) d.PendingError = std::current_exception();
        }
        d.RunPosted(d.PendingError);
        return 0;
      case WM_TIMER:
        d.FireTimer(static_cast<UINT_PTR>(WParam), d.PendingError);
        return 0;
      default:
        return ::DefWindowProcW(Window, Message, WParam, LParam);
    }
  }

  static bool RegisterClassOnce() {
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = &Proc;
      wc.hInstance = ::GetModuleHandleW(nullptr);
      wc.lpszClassName = kClassName;
      return ::RegisterClassExW(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
  }
};

TWin32LoopBackend::TWin32LoopBackend() : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.ThreadId = ::GetCurrentThreadId();
  d.WakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (d.WakeEvent == nullptr) throw EOutOfResources("Cannot create the loop's wake-up event");
  if (!win32detail::TLoopWindow::RegisterClassOnce() ||
      (d.Window = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr)) == nullptr) {
    ::CloseHandle(d.WakeEvent);
    throw EOutOfResources("Cannot create the loop's message window");
  }
  ::SetWindowLongPtrW(d.Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Outside its own waits the UI thread may be anywhere (running a handler,
  // inside a modal loop): every new hand-off needs a wake-up message then.
  parked_.store(true, std::memory_order_seq_cst);
}

TWin32LoopBackend::~TWin32LoopBackend() {
  Impl& d = *impl_;
  ::SetWindowLongPtrW(d.Window, GWLP_USERDATA, 0);
  ::DestroyWindow(d.Window);  // its timers go with it
  ::CloseHandle(d.WakeEvent);
}

void TWin32LoopBackend::Post(std::function<void()> Call) {
  Impl& d = *impl_;
  {
    std::lock_guard lk(d.Mutex);
    d.Posted.push_back(std::move(Call));
    d.PostedCount.fetch_add(1, std::memory_order_seq_cst);
  }
  Wake();
}

void TWin32LoopBackend::Wake() {
  Impl& d = *impl_;
  d.WakeSeq.fetch_add(1, std::memory_order_seq_cst);
  // Spinning in WaitFor, the UI thread sees the sequence change by itself.
  if (!parked_.load(std::memory_order_seq_cst)) return;
  d.PostWakeMessage();
  ::SetEvent(d.WakeEvent);
}

bool TWin32LoopBackend::SetTimer(const void* Owner, unsigned Id, unsigned IntervalMs, std::function<void()> OnTimer) {
  Impl& d = *impl_;
  UINT_PTR systemId;
  {
    std::lock_guard lk(d.TimerMutex);
    const Impl::Key key(Owner, Id);
    auto it = d.Timers.find(key);
    if (it != d.Timers.end()) {
      systemId = it->second.SystemId;
      it->second.OnTimer = std::move(OnTimer);
    } else {
      systemId = d.NextSystemId++;
      d.Timers.emplace(key, Impl::Timer{systemId, std::move(OnTimer)});
      d.TimerKeys.emplace(systemId, key);
    }
  }
  // Only the window's own thread may start its timers: from another thread
  // the start is handed to the UI thread.
  auto start = [this, systemId, IntervalMs] {
    Impl& i = *impl_;
    if (::SetTimer(i.Window, systemId, IntervalMs, nullptr) != 0) return true;
    std::lock_guard lk(i.TimerMutex);
    auto key = i.TimerKeys.find(systemId);
    if (key != i.TimerKeys.end()) {
      i.Timers.erase(key->second);
      i.TimerKeys.erase(key);
    }
    return false;
  };
  if (d.OnUIThread()) return start();
  Post([start] { start(); });
  return true;
}

void TWin32LoopBackend::KillTimer(const void* Owner, unsigned Id) {
  Impl& d = *impl_;
  UINT_PTR systemId;
  {
    std::lock_guard lk(d.TimerMutex);
    auto it = d.Timers.find(Impl::Key(Owner, Id));
    if (it == d.Timers.end()) return;
    systemId = it->second.SystemId;
    d.TimerKeys.erase(systemId);
    d.Timers.erase(it);
  }
  // A WM_TIMER already queued finds no entry and does nothing.
  if (d.OnUIThread())
    ::KillTimer(d.Window, systemId);
  else
    Post([this, systemId] { ::KillTimer(impl_->Window, systemId); });
}

int TWin32LoopBackend::TimerCount() const {
  std::lock_guard lk(impl_->TimerMutex);
  return static_cast<int>(impl_->Timers.size());
}

bool TWin32LoopBackend::HasTimer(const void* Owner, unsigned Id) const {
  std::lock_guard lk(impl_->TimerMutex);
  return impl_->Timers.count(Impl::Key(Owner, Id)) != 0;
}

void TWin32LoopBackend::ProcessMessages() {
  Impl& d = *impl_;
  std::exception_ptr firstError;
  // Each timer fires at most once per call, so a short interval cannot keep
  // this loop busy.
  std::set<UINT_PTR> fired;
  for (int round = 0; round < kMaxRounds; ++round) {
    bool any = ServeSentCalls();
    any = d.RunPosted(firstError) || any;
    MSG msg;
    int n = 0;
    while (n < kMaxMessagesPerRound && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ++n;
      if (msg.message == WM_QUIT) {
        Application().Terminate();
        continue;
      }
      if (msg.hwnd == d.Window && msg.message == WM_TIMER) {
        if (fired.insert(static_cast<UINT_PTR>(msg.wParam)).second) d.FireTimer(msg.wParam, firstError);
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (!any && n == 0) break;
  }
  if (!firstError) firstError = std::exchange(d.PendingError, nullptr);
  if (firstError) std::rethrow_exception(firstError);
}

TWaitResult TWin32LoopBackend::WaitFor(const TSignal* Signal, unsigned TimeoutMs, TWakeMask Mask) {
  Impl& d = *impl_;
  const auto start = Clock::now();
  const auto deadline = TimeoutMs == 0 ? Clock::time_point::max() : start + std::chrono::milliseconds(TimeoutMs);
  const uint64_t seen = d.WakeSeq.load(std::memory_order_seq_cst);
  const bool anyInput = Mask == TWakeMask::AnyInput;
  // Checked without touching the message queue; the queue itself is asked by
  // the system wait below.
  auto ready = [&]() -> std::optional<TWaitResult> {
    if (Signal != nullptr && Signal->IsSet()) return TWaitResult::Signalled;
    if (HasSentCalls()) return TWaitResult::Input;
    if (anyInput && d.PostedCount.load(std::memory_order_seq_cst) > 0) return TWaitResult::Input;
    // A bare Wake() counts as input, so that a loop waiting for nothing in
    // particular looks at its stop flag.
    if (d.WakeSeq.load(std::memory_order_seq_cst) != seen) return TWaitResult::Input;
    return std::nullopt;
  };

  // Hand-offs tend to come in bursts (one per received block): spin a little
  // before parking so the next one is answered without a wake-up. Input
  // already in the queue ends the spin at once.
  parked_.store(false, std::memory_order_seq_cst);
  const auto spinUntil = start + kSpin;
  unsigned n = 0;
  for (;;) {
    if (const auto r = ready()) {
      parked_.store(true, std::memory_order_seq_cst);
      return *r;
    }
    if ((++n & 15) != 0) {
      CpuRelax();
      continue;
    }
    if (anyInput && (::GetQueueStatus(QS_ALLINPUT) >> 16) != 0) break;
    const auto now = Clock::now();
    if (now >= deadline || now >= spinUntil) break;
  }
  parked_.store(true, std::memory_order_seq_cst);

  for (;;) {
    // Checked again after parked_ is set: a hand-off queued in between has
    // sent its wake-up, and one queued before is seen here.
    if (const auto r = ready()) return *r;
    DWORD waitMs = INFINITE;
    if (deadline != Clock::time_point::max()) {
      const auto now = Clock::now();
      if (now >= deadline) return TWaitResult::Timeout;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      waitMs = left >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(left);
    }
    const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &d.WakeEvent, waitMs, anyInput ? QS_ALLINPUT : QS_SENDMESSAGE,
                                                  MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0 || r == WAIT_TIMEOUT) continue;  // the checks above tell what happened
    if (r == WAIT_OBJECT_0 + 1) {
      if (anyInput) return TWaitResult::Input;
      // Messages another thread sent to a window of this one: peeking
      // delivers them, and nothing else is taken from the queue.
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      continue;
    }
    return TWaitResult::Failed;
  }
}

void TWin32LoopBackend::Run(const std::atomic<bool>& Stop) {
  while (!Stop.load(std::memory_order_acquire)) {
    WaitFor(nullptr, 0, TWakeMask::AnyInput);
    ProcessMessages();
  }
}

}  // namespace kelvora
