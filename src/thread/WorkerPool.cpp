#include "thread/WorkerPool.h"

#include <algorithm>
#include <chrono>

#include "thread/ThreadSystem.h"

namespace kelvora::detail {

namespace {
// An idle carrier ends after this long without a job.
constexpr auto kIdleLimit = std::chrono::seconds(10);
thread_local TWorkerCarrier* tCarrier = nullptr;
}  // namespace

void TWorkerCarrier::JobDone() {
  if (tCarrier == nullptr) return;
  std::lock_guard lk(tCarrier->m_);
  tCarrier->busy_ = false;
}

std::shared_ptr<TWorkerCarrier> TWorkerCarrier::Launch(std::function<void()> Job) {
  auto c = std::make_shared<TWorkerCarrier>();
  c->job_ = std::move(Job);
  // The thread holds the carrier: a retired one may outlive every other owner.
  c->thread_ = std::thread([c] { c->Loop(); });
  return c;
}

TWorkerCarrier::~TWorkerCarrier() {
  // Reached with a joinable thread only on that thread itself (a retired
  // carrier's last owner), or never started.
  if (thread_.joinable()) thread_.detach();
}

void TWorkerCarrier::Loop() {
  tCarrier = this;
  std::unique_lock lk(m_);
  tid_ = CurrentThreadId();
  for (;;) {
    if (!cv_.wait_for(lk, kIdleLimit, [this] { return job_ || retired_; }) || !job_) break;
    std::function<void()> job = std::move(job_);
    job_ = nullptr;
    busy_ = true;
    lk.unlock();
    job();
    job = nullptr;
    lk.lock();
    busy_ = false;
    if (retired_) break;
  }
  exited_ = true;
}

bool TWorkerCarrier::TryRun(std::function<void()>& Job, int OsValue) {
  std::lock_guard lk(m_);
  if (busy_ || job_ || retired_ || exited_ || tid_ == 0) return false;
  int value = 0;
  if (!ReadThreadPriority(tid_, value) || value != OsValue) return false;
  job_ = std::move(Job);
  cv_.notify_one();
  return true;
}

void TWorkerCarrier::Retire() {
  bool idle;
  {
    std::lock_guard lk(m_);
    retired_ = true;
    idle = exited_ || (!busy_ && !job_);
    cv_.notify_one();
  }
  if (!thread_.joinable()) return;
  if (idle)
    thread_.join();
  else
    thread_.detach();
}

bool TWorkerCarrier::Exited() {
  std::lock_guard lk(m_);
  return exited_;
}

std::shared_ptr<TWorkerCarrier> TWorkerPool::Run(std::function<void()> Job, int OsValue) {
  std::vector<std::shared_ptr<TWorkerCarrier>> ended;
  std::shared_ptr<TWorkerCarrier> chosen;
  {
    std::lock_guard lk(m_);
    for (auto it = carriers_.begin(); it != carriers_.end();) {
      if ((*it)->Exited()) {
        ended.push_back(std::move(*it));
        it = carriers_.erase(it);
      } else {
        ++it;
      }
    }
    for (const auto& c : carriers_)
      if (c->TryRun(Job, OsValue)) {
        chosen = c;
        break;
      }
    if (!chosen) {
      chosen = TWorkerCarrier::Launch(std::move(Job));
      carriers_.push_back(chosen);
    }
  }
  for (const auto& c : ended) c->Retire();  // joins a thread that has ended
  return chosen;
}

void TWorkerPool::Retire(const std::shared_ptr<TWorkerCarrier>& Carrier) {
  {
    std::lock_guard lk(m_);
    carriers_.erase(std::remove(carriers_.begin(), carriers_.end(), Carrier), carriers_.end());
  }
  Carrier->Retire();
}

void TWorkerPool::Shutdown() {
  std::vector<std::shared_ptr<TWorkerCarrier>> all;
  {
    std::lock_guard lk(m_);
    all.swap(carriers_);
  }
  for (const auto& c : all) c->Retire();
}

}  // namespace kelvora::detail
