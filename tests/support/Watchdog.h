// Ends the test process with a message when a scope takes far longer than it
// ever should: a deadlock then fails the run instead of hanging it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace kvtest {

class Watchdog {
 public:
  Watchdog(std::string What, std::chrono::seconds Limit) : what_(std::move(What)) {
    thread_ = std::thread([this, Limit] {
      std::unique_lock lk(m_);
      if (!cv_.wait_for(lk, Limit, [this] { return done_; })) {
        std::fprintf(stderr, "WATCHDOG: %s did not end within %lld s (deadlock?)\n", what_.c_str(),
                     static_cast<long long>(Limit.count()));
        std::fflush(stderr);
        std::_Exit(3);
      }
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lk(m_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace kvtest
