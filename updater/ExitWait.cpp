#include "ExitWait.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace kelvora::updater {

namespace {

// The nice value of the system's "lowest" thread priority.
constexpr int kLowestNice = 10;

bool RunByAnyProcess(const std::string& Path) {
  struct stat file {};
  if (::stat(Path.c_str(), &file) != 0) return false;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (!found) {
    const dirent* e = ::readdir(proc);
    if (e == nullptr) break;
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    struct stat exe {};
    const std::string link = std::string("/proc/") + e->d_name + "/exe";
    found = ::stat(link.c_str(), &exe) == 0 && exe.st_dev == file.st_dev && exe.st_ino == file.st_ino;
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

bool WaitUntilFree(const std::string& Path, std::chrono::milliseconds Limit) {
  bool free = false;
  std::thread poller([&] {
    const int tid = static_cast<int>(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0 && nice < kLowestNice) ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kLowestNice);
    const auto end = std::chrono::steady_clock::now() + Limit;
    for (;;) {
      if (!InUse(Path)) {
        free = true;
        return;
      }
      if (std::chrono::steady_clock::now() >= end) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  poller.join();
  return free;
}

}  // namespace kelvora::updater
