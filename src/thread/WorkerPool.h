// The OS threads that carry the jobs of one thread component. A carrier runs
// one job at a time and then waits for the next, so a component that starts
// transfer after transfer does not make an OS thread for each; an idle
// carrier ends after a while. A carrier whose job was stopped at once in the
// middle of its body is retired: it ends once that body has unwound, and the
// next job gets another carrier at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvora::detail {

class TWorkerCarrier {
 public:
  // A new OS thread that runs Job first.
  static std::shared_ptr<TWorkerCarrier> Launch(std::function<void()> Job);
  ~TWorkerCarrier();

  // Hands Job over when the carrier is idle and its thread runs at the OS
  // priority value OsValue (a priority once lowered cannot always be raised
  // again). False, leaving Job alone, otherwise.
  bool TryRun(std::function<void()>& Job, int OsValue);
  // No more jobs: the thread ends after the current one (joined here when
  // it has none, else left to end on its own).
  void Retire();
  bool Exited();
  // Called by a job at its very end (on its carrier): the carrier may be
  // given the next job now; it takes it once the current one has returned.
  static void JobDone();

 private:
  void Loop();

  std::mutex m_;
  std::condition_variable cv_;
  std::function<void()> job_;
  bool busy_ = false, retired_ = false, exited_ = false;
  std::int64_t tid_ = 0;
  std::thread thread_;
};

class TWorkerPool {
 public:
  // Runs Job on an idle carrier at priority OsValue, or on a new one.
  std::shared_ptr<TWorkerCarrier> Run(std::function<void()> Job, int OsValue);
  // Takes Carrier out of service (its job was stopped at once mid-body).
  void Retire(const std::shared_ptr<TWorkerCarrier>& Carrier);
  // Retires every carrier (the component is going).
  void Shutdown();

 private:
  std::mutex m_;
  std::vector<std::shared_ptr<TWorkerCarrier>> carriers_;
};

}  // namespace kelvora::detail
