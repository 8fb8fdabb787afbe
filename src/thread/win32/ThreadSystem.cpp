// Thread priorities through SetThreadPriority / GetThreadPriority: the
// table's OS values are the system's own priority levels.
#include "thread/ThreadSystem.h"

#include <windows.h>

namespace kelvora::detail {

namespace {

// A handle of thread Tid for the priority calls; closed on scope exit.
class TThreadHandle {
 public:
  TThreadHandle(std::int64_t Tid, DWORD Access)
      : handle_(::OpenThread(Access, FALSE, static_cast<DWORD>(Tid))) {}
  ~TThreadHandle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  TThreadHandle(const TThreadHandle&) = delete;
  TThreadHandle& operator=(const TThreadHandle&) = delete;
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::int64_t CurrentThreadId() { return static_cast<std::int64_t>(::GetCurrentThreadId()); }

bool ApplyThreadPriority(std::int64_t Tid, int OsValue) {
  TThreadHandle h(Tid, THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION);
  return h.Get() != nullptr && ::SetThreadPriority(h.Get(), OsValue) != FALSE;
}

bool ReadThreadPriority(std::int64_t Tid, int& OsValue) {
  TThreadHandle h(Tid, THREAD_QUERY_INFORMATION);
  if (h.Get() == nullptr) return false;
  const int value = ::GetThreadPriority(h.Get());
  if (value == THREAD_PRIORITY_ERROR_RETURN) return false;
  OsValue = value;
  return true;
}

}  // namespace kelvora::detail
