#include "../Launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "../Command.h"
#include "../Transaction.h"
#include "../TransactionFiles.h"

extern char** environ;

namespace kelvora::updater {

pid_t StartProgram(const std::string& Program, const std::string& Params, const std::vector<std::string>& Extra) {
  std::vector<std::string> args = SplitArguments(Params);
  args.insert(args.end(), Extra.begin(), Extra.end());
  args.insert(args.begin(), Program);  // the path stays whole, blanks and all
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, Program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  return pid;
}

void WaitForExit(pid_t Pid) {
  int status = 0;
  while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace kelvora::updater

namespace kelvora::updater {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kGrace = std::chrono::seconds(3);

// A descriptor that becomes readable when Pid ends; -1 without pidfds.
int PidFd(pid_t Pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
#else
  (void)Pid;
  return -1;
#endif
}

int MsLeft(Clock::time_point End) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(End - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// Reaps Pid when it has ended; its status then goes to Result.
bool Reaped(pid_t Pid, TConfirmResult& Result, bool Block) {
  int status = 0;
  pid_t rc;
  while ((rc = ::waitpid(Pid, &status, Block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
  }
  if (rc != Pid) return rc < 0;  // not ours (any more): nothing to wait for
  Result.Signalled = WIFSIGNALED(status);
  Result.Status = Result.Signalled ? WTERMSIG(status) : WEXITSTATUS(status);
  return true;
}

}  // namespace

TConfirmResult WaitForConfirmation(pid_t Pid, const std::string& StateFolder, std::chrono::milliseconds Limit) {
  TConfirmResult result;
  const std::string confirm = ConfirmPath(StateFolder);
  const auto end = Clock::now() + Limit;
  const int notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (notify >= 0) ::inotify_add_watch(notify, StateFolder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE);
  const int proc = PidFd(Pid);
  for (;;) {
    if (Exists(confirm)) {
      result.Outcome = TConfirmOutcome::Confirmed;
      break;
    }
    if (Reaped(Pid, result, false)) {
      // A confirmation written right before the end still counts.
      result.Outcome = Exists(confirm) ? TConfirmOutcome::Confirmed : TConfirmOutcome::Ended;
      break;
    }
    if (Clock::now() >= end) break;
    if (notify >= 0 && proc >= 0) {
      pollfd p[2] = {{notify, POLLIN, 0}, {proc, POLLIN, 0}};
      if (::poll(p, 2, MsLeft(end)) > 0 && (p[0].revents & POLLIN)) {
        char events[4096];
        while (::read(notify, events, sizeof events) > 0) {
        }
      }
    } else {
      // Without pidfd or inotify: a light poll.
      ::usleep(20000);
    }
  }
  if (proc >= 0) ::close(proc);
  if (notify >= 0) ::close(notify);
  return result;
}

void EndProgram(pid_t Pid) {
  TConfirmResult ignored;
  if (Reaped(Pid, ignored, false)) return;
  ::kill(Pid, SIGTERM);
  const int proc = PidFd(Pid);
  const auto end = Clock::now() + kGrace;
  if (proc >= 0) {
    pollfd p{proc, POLLIN, 0};
    while (::poll(&p, 1, MsLeft(end)) < 0 && errno == EINTR) {
    }
    ::close(proc);
  } else {
    while (Clock::now() < end && !Reaped(Pid, ignored, false)) ::usleep(10000);
  }
  if (!Reaped(Pid, ignored, false)) {
    ::kill(Pid, SIGKILL);
    Reaped(Pid, ignored, true);
  }
}

}  // namespace kelvora::updater
