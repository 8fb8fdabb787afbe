#include "../ExitWait.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace kelvora::updater {

namespace {

// The nice value of the system's "lowest" thread priority.
constexpr int kLowestNice = 10;
constexpr auto kFirstPause = std::chrono::milliseconds(1);
constexpr auto kLongestPause = std::chrono::milliseconds(100);

bool SameFile(const std::string& A, const std::string& B) {
  struct stat a {}, b {};
  return ::stat(A.c_str(), &a) == 0 && ::stat(B.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool RunByAnyProcess(const std::string& Path) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* e = ::readdir(proc);
    if (e == nullptr) break;
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    found = SameFile(std::string("/proc/") + e->d_name + "/exe", Path);
  }
  ::closedir(proc);
  return found;
}

}  // namespace

bool InUse(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  if (errno == ETXTBSY) return true;
  if (errno == EACCES || errno == EPERM || errno == EROFS) return RunByAnyProcess(Path);
  return false;  // gone, or not a file that can be run
}

int WatchProcess(pid_t Pid, const std::string& Path) {
#ifdef SYS_pidfd_open
  if (Pid <= 1) return -1;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
  if (fd < 0) return -1;
  // Taken first, checked second: the handle cannot move to a reused pid.
  if (!SameFile("/proc/" + std::to_string(Pid) + "/exe", Path)) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
#else
  (void)Pid;
  (void)Path;
  return -1;
#endif
}

void CloseWatch(int Watch) {
  if (Watch >= 0) ::close(Watch);
}

bool WaitUntilFree(const std::string& Path, std::chrono::milliseconds Limit, int Watch) {
  bool free = false;
  std::thread waiter([&] {
    const int tid = static_cast<int>(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0 && nice < kLowestNice) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kLowestNice);
    const auto end = std::chrono::steady_clock::now() + Limit;
    if (Watch >= 0) {
      pollfd p{Watch, POLLIN, 0};
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(0, std::min<long long>(left.count(), 1 << 30))));
        if (rc != 0 && !(rc < 0 && errno == EINTR)) break;  // ended (or no longer watchable)
        if (rc == 0) return;                                 // the limit
      }
    }
    auto pause = kFirstPause;
    for (;;) {
      if (!InUse(Path)) {
        free = true;
        return;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) return;
      std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(pause, end - now));
      pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
    }
  });
  waiter.join();
  return free;
}

}  // namespace kelvora::updater
