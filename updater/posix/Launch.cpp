#include "../Launch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "../Transaction.h"
#include "../TransactionFiles.h"

extern char** environ;

namespace kelvora::updater {

pid_t StartProgram(const std::string& Program, const std::vector<std::string>& Args) {
  // A process the started program leaves behind (a launcher's child that
  // has left its group) becomes this process's child: it can be found and
  // ended when the release is undone.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
  std::vector<std::string> args{Program};  // the path stays whole, blanks and all
  args.insert(args.end(), Args.begin(), Args.end());
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
// Bounds the forced end of processes that keep starting new ones.
constexpr auto kForceLimit = std::chrono::seconds(10);

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

// Whether Pid has ended; its status then goes to Result. The process is
// left a zombie (not reaped): its id, which is also its group's, cannot be
// taken by another process until EndProgram or the end of the updater.
bool Ended(pid_t Pid, TConfirmResult& Result) {
  siginfo_t info{};
  int rc;
  while ((rc = ::waitid(P_PID, static_cast<id_t>(Pid), &info, WEXITED | WNOHANG | WNOWAIT)) < 0 && errno == EINTR) {
  }
  if (rc < 0) return true;  // not ours (any more): nothing to wait for
  if (info.si_pid != Pid) return false;
  Result.Signalled = info.si_code != CLD_EXITED;
  Result.Status = info.si_status;
  return true;
}

// This process's children as the system lists them (every thread's).
std::vector<pid_t> Children() {
  std::vector<pid_t> out;
  const std::string self = std::to_string(::getpid());
  DIR* tasks = ::opendir(("/proc/" + self + "/task").c_str());
  if (tasks == nullptr) return out;
  while (const dirent* t = ::readdir(tasks)) {
    if (t->d_name[0] < '0' || t->d_name[0] > '9') continue;
    std::ifstream in("/proc/" + self + "/task/" + t->d_name + "/children");
    pid_t pid = 0;
    while (in >> pid) out.push_back(pid);
  }
  ::closedir(tasks);
  return out;
}

// Whether a process other than Leader is in the group Leader leads.
bool OthersInGroup(pid_t Leader) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(proc)) {
    if (found) break;
    if (e->d_name[0] < '0' || e->d_name[0] > '9' || std::atoi(e->d_name) == Leader) continue;
    std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (name) state ppid pgrp ...": the name may hold anything but ends at the last ")".
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    pid_t ppid = 0, pgrp = 0;
    fields >> state >> ppid >> pgrp;
    found = pgrp == Leader && state != "Z";
  }
  ::closedir(proc);
  return found;
}

// Reaps every ended child but Leader; true while a process of Leader's
// group, or a child other than Leader, is left.
bool AnyLeft(pid_t Leader) {
  bool left = false;
  for (pid_t child : Children()) {
    if (child == Leader) continue;
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) != child) left = true;
  }
  return left || OthersInGroup(Leader);
}

void SignalAll(pid_t Leader, int Signal) {
  // The group's id is Leader's, held by it (a zombie at worst) until it is
  // reaped: never another group's.
  ::kill(-Leader, Signal);
  for (pid_t child : Children())
    if (child != Leader) ::kill(child, Signal);
}

}  // namespace

TConfirmResult WaitForConfirmation(pid_t Pid, const std::string& StateFolder, std::chrono::milliseconds Limit) {
  TConfirmResult result;
  const auto end = Clock::now() + Limit;
  const int notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (notify >= 0) ::inotify_add_watch(notify, StateFolder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE);
  int proc = PidFd(Pid);
  bool running = true;
  for (;;) {
    if (ReadDecision(StateFolder) == TDecision::Confirmed) {
      result.Outcome = TConfirmOutcome::Confirmed;
      break;
    }
    if (running && Ended(Pid, result)) {
      running = false;
      if (proc >= 0) ::close(proc);
      proc = -1;
      // A confirmation written right before the end still counts.
      if (ReadDecision(StateFolder) == TDecision::Confirmed) {
        result.Outcome = TConfirmOutcome::Confirmed;
        break;
      }
      if (result.Signalled || result.Status != 0) {
        result.Outcome = TConfirmOutcome::Ended;
        break;
      }
      // Ended well without a confirmation: a launcher, whose child may
      // still confirm in time.
      result.EndedCleanly = true;
    }
    if (Clock::now() >= end) break;
    if (notify >= 0 && (proc >= 0 || !running)) {
      pollfd p[2] = {{notify, POLLIN, 0}, {proc, POLLIN, 0}};
      if (::poll(p, proc >= 0 ? 2 : 1, MsLeft(end)) > 0 && (p[0].revents & POLLIN)) {
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
  // The program leads a session of its own: its group holds every process
  // it started that did not leave; those that left are this process's
  // children once their parents are gone.
  SignalAll(Pid, SIGTERM);
  const auto grace = Clock::now() + kGrace;
  TConfirmResult ignored;
  while ((!Ended(Pid, ignored) || AnyLeft(Pid)) && Clock::now() < grace)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto limit = Clock::now() + kForceLimit;
  while ((!Ended(Pid, ignored) || AnyLeft(Pid)) && Clock::now() < limit) {
    SignalAll(Pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int status = 0;
  while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
  }
}

void AskOthersRunningToEnd(const std::string& Path) {
  struct stat file {};
  if (::stat(Path.c_str(), &file) != 0) return;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return;
  while (const dirent* e = ::readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    struct stat exe {};
    // Only this user's processes show their program.
    if (pid == ::getpid() || ::stat((std::string("/proc/") + e->d_name + "/exe").c_str(), &exe) != 0) continue;
    if (exe.st_dev == file.st_dev && exe.st_ino == file.st_ino) ::kill(pid, SIGTERM);
  }
  ::closedir(proc);
}

}  // namespace kelvora::updater
