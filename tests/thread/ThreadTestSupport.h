// Helpers of the thread tests: pumping the UI loop, and a gate for workers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "kelvora/Application.h"

namespace kvtest {

// Runs the UI loop until Done() holds; gives up after a generous bound so a
// broken build fails instead of hanging.
template <class Pred>
bool PumpUntil(Pred Done, std::chrono::seconds limit = std::chrono::seconds(20)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    kelvora::LoopBackend().WaitFor(nullptr, 10, kelvora::TWakeMask::AnyInput);
    kelvora::Application().ProcessMessages();
  }
  return true;
}

// A gate a worker can wait at until the test opens it.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  void Open() {
    { std::lock_guard lk(m); open = true; }
    cv.notify_all();
  }
  void Wait() {
    std::unique_lock lk(m);
    cv.wait(lk, [&] { return open; });
  }
};

}  // namespace kvtest
