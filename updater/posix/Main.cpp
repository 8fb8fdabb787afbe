// AppUpdate: finishes an upgrade after the application has closed. Started
// by the application as: AppUpdate <application path> +<restart parameters><digit>
// [-- <the application's own arguments>...]
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../Updater.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto limit = kelvora::updater::kDefaultWaitLimit;
#ifdef KELVORA_FAULT_HOOKS
  // The tests' copy only: KELVORA_UPDATER_WAIT_MS shortens (or lengthens)
  // the wait for the application to end.
  if (const char* ms = std::getenv("KELVORA_UPDATER_WAIT_MS"); ms != nullptr && *ms != '\0') {
    char* end = nullptr;
    const long long value = std::strtoll(ms, &end, 10);
    if (*end == '\0' && value >= 0) limit = std::chrono::milliseconds(value);
  }
#endif
  // KELVORA_APP_PID names the application to wait for (default: the parent).
  int pid = 0;
  if (const char* p = std::getenv("KELVORA_APP_PID"); p != nullptr) pid = std::atoi(p);
  ::unsetenv("KELVORA_APP_PID");  // not passed on to the programs it starts
  // The folder the application started this program from by descriptor
  // (descriptor 4) is not passed on either.
  struct stat folder {};
  if (::fstat(4, &folder) == 0 && S_ISDIR(folder.st_mode)) ::fcntl(4, F_SETFD, FD_CLOEXEC);
  return kelvora::updater::RunUpdater(args, limit, pid);
}
