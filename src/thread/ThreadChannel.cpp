// The per-process hand-off channel: it exists while at least one thread
// object does, created with the first and torn down with the last.
#include <mutex>

#include "thread/ThreadState.h"

namespace kelvora {

namespace {
std::mutex gThreadLock;
int gThreadCount = 0;
bool gChannel = false;
thread_local detail::ThreadState* tCurrentJob = nullptr;
}  // namespace

namespace detail {

ThreadState* CurrentJob() { return tCurrentJob; }
void SetCurrentJob(ThreadState* State) { tCurrentJob = State; }

void RegisterThreadObject() {
  std::lock_guard lk(gThreadLock);
  if (gThreadCount == 0) gChannel = true;
  ++gThreadCount;
}

void UnregisterThreadObject() {
  std::lock_guard lk(gThreadLock);
  if (--gThreadCount == 0) gChannel = false;
}

}  // namespace detail

int ThreadObjectCount() {
  std::lock_guard lk(gThreadLock);
  return gThreadCount;
}

bool ThreadChannelActive() {
  std::lock_guard lk(gThreadLock);
  return gChannel;
}

}  // namespace kelvora
