#include "support/TestProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kvtest {

namespace {

pid_t Spawn(const std::vector<std::string>& Argv, int StdoutFd, const std::string& StderrFile, bool NewGroup) {
  std::vector<char*> argv;
  for (const auto& a : Argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (StdoutFd >= 0) posix_spawn_file_actions_adddup2(&fa, StdoutFd, 1);
  if (!StderrFile.empty()) {
    posix_spawn_file_actions_addopen(&fa, 2, StderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (StdoutFd < 0) posix_spawn_file_actions_adddup2(&fa, 2, 1);
  }
  posix_spawnattr_t at;
  posix_spawnattr_init(&at);
  if (NewGroup) {
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&at, 0);
  }
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, argv[0], &fa, &at, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&at);
  return rc == 0 ? pid : -1;
}

}  // namespace

TestProcess::TestProcess(const std::vector<std::string>& Argv, const std::string& StderrFile) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = Spawn(Argv, fds[1], StderrFile, true);
  close(fds[1]);
  out_ = fds[0];
  if (pid_ < 0) {
    close(out_);
    out_ = -1;
    throw std::runtime_error("cannot start " + Argv[0]);
  }
}

TestProcess::~TestProcess() {
  Stop();
  if (out_ >= 0) close(out_);
}

bool TestProcess::Alive() {
  if (reaped_ || pid_ < 0) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

bool TestProcess::ReadLine(std::string& Line, int TimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      Line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0 || out_ < 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[512];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void TestProcess::Stop(int GraceMs) {
  if (pid_ < 0 || reaped_) return;
  kill(-pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(GraceMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      reaped_ = true;
      kill(-pid_, SIGKILL);  // stragglers of the group
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(-pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  reaped_ = true;
}

int RunCommand(const std::vector<std::string>& Argv, const std::string& LogFile) {
  pid_t pid = Spawn(Argv, -1, LogFile, false);
  if (pid < 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProgramAccount(std::string& User, std::string& Group) {
  if (geteuid() != 0) return false;
  const passwd* pw = getpwuid(geteuid());
  const group* gr = getgrgid(getegid());
  User = pw ? pw->pw_name : "root";
  Group = gr ? gr->gr_name : "root";
  return true;
}

}  // namespace kvtest
