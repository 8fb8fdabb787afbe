// Waiting with a live loop, closing the application.
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "kelvora/Application.h"
#include "kelvora/LoopBackend.h"
#include "kelvora/kvUtils.h"

namespace kelvora {

namespace {

// The open events of WaitForSignal, by handle. Handles count up from 1 and
// are never reused, so a stale handle finds nothing.
struct TEventTable {
  std::mutex Mutex;
  THandle Next = 1;
  std::map<THandle, std::shared_ptr<TSignal>> Events;

  THandle Open(std::shared_ptr<TSignal> S) {
    std::lock_guard lk(Mutex);
    THandle h = Next++;
    Events.emplace(h, std::move(S));
    return h;
  }
  void Close(THandle H) {
    std::lock_guard lk(Mutex);
    Events.erase(H);
  }
  std::shared_ptr<TSignal> Find(THandle H) {
    std::lock_guard lk(Mutex);
    auto it = Events.find(H);
    return it == Events.end() ? nullptr : it->second;
  }
};

TEventTable& Events() {
  static TEventTable* t = new TEventTable;  // usable until the very end
  return *t;
}

}  // namespace

void WaitForSignal(THandle& Event, unsigned Timeout, bool StopOnTerminate) {
  auto signal = std::make_shared<TSignal>();
  const THandle handle = Events().Open(signal);
  Event = handle;
  auto close = [&] {
    Events().Close(handle);
    Event = -1;
  };
  try {
    for (;;) {
      if (StopOnTerminate && Application().Terminated()) break;
      const TWaitResult r = LoopBackend().WaitFor(signal.get(), Timeout, TWakeMask::AnyInput);
      if (r != TWaitResult::Input) break;  // signalled, timed out or failed
      Application().ProcessMessages();
    }
  } catch (...) {
    close();
    throw;
  }
  close();
}

void SignalWait(THandle& Event) {
  if (Event == -1 || Event == 0) return;
  if (auto s = Events().Find(Event)) s->Set();
}

void CloseApplication() {
  if (Application().HasMainWindow()) Application().CloseMainWindow();
  Application().Terminate();
}

void ClearSized(void* Rec, std::size_t Size) {
  if (Rec == nullptr || Size == 0) return;
  std::memset(Rec, 0, Size);
  if (Size >= sizeof(std::uint32_t)) {
    const auto size32 = static_cast<std::uint32_t>(Size);
    std::memcpy(Rec, &size32, sizeof size32);
  }
}

}  // namespace kelvora
