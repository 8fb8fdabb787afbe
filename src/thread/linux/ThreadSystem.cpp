// Thread priorities as per-thread nice values.
#include "thread/ThreadSystem.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "kelvora/kvThread.h"

namespace kelvora::detail {

std::int64_t CurrentThreadId() { return static_cast<std::int64_t>(::syscall(SYS_gettid)); }

bool ApplyThreadPriority(std::int64_t Tid, int OsValue) {
  return ::setpriority(PRIO_PROCESS, static_cast<id_t>(Tid), OSValueToNice(OsValue)) == 0;
}

bool ReadThreadPriority(std::int64_t Tid, int& OsValue) {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(Tid));
  if (errno != 0) return false;
  OsValue = NiceToOSValue(nice);
  return true;
}

}  // namespace kelvora::detail
