#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace kelvora::platform {

int SpawnDetached(const std::vector<std::string>& Argv) {
  if (Argv.empty() || Argv[0].empty()) {
    errno = ENOENT;
    return -1;
  }
  return SpawnProgram(std::string(), Argv, -1, {});
}

namespace {

// Descriptor 4 of the child holds the folder a program is started from by
// descriptor.
constexpr int kChildFolderFd = 4;

int Spawn(const std::string& Program, int FolderFd, const std::vector<std::string>& Argv, int KeepFd,
          const std::vector<std::string>& Env) {
  if (Argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<char*> argv;
  argv.reserve(Argv.size() + 1);
  for (const auto& a : Argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  // A variable given in Env replaces the inherited one of that name.
  auto replaced = [&Env](const char* Entry) {
    for (const auto& e : Env) {
      const size_t eq = e.find('=');
      if (eq != std::string::npos && std::strncmp(Entry, e.c_str(), eq + 1) == 0) return true;
    }
    return false;
  };
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    if (!replaced(*e)) envp.push_back(*e);
  for (const auto& e : Env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  // Descriptor 3 is the one handed over: a KeepFd that is 3 already is moved
  // out of the way first, so that the dup2 below clears its close-on-exec.
  int keep = KeepFd;
  if (keep == 3 || keep == kChildFolderFd) keep = ::fcntl(KeepFd, F_DUPFD_CLOEXEC, 10);
  int folder = FolderFd;
  if (folder == 3 || folder == kChildFolderFd) folder = ::fcntl(FolderFd, F_DUPFD_CLOEXEC, 10);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (keep >= 0) posix_spawn_file_actions_adddup2(&actions, keep, 3);
  // The folder stays open in the program (without close-on-exec), so that a
  // script's interpreter can open the script by the same name.
  if (folder >= 0) posix_spawn_file_actions_adddup2(&actions, folder, kChildFolderFd);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&actions, folder >= 0 ? kChildFolderFd + 1 : keep >= 0 ? 4 : 3);
#endif
  // By descriptor: the name is looked up in the very folder that was
  // opened and checked, whatever its path leads to by now.
  const std::string path =
      folder >= 0 ? "/proc/self/fd/" + std::to_string(kChildFolderFd) + "/" + Program : Program;
  // A new session, default signal handling and an empty signal mask, so the
  // program does not inherit what the application blocked or ignored.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  pid_t pid = -1;
  const int rc = Program.empty() ? ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data())
                                 : ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (keep >= 0 && keep != KeepFd) ::close(keep);
  if (folder >= 0 && folder != FolderFd) ::close(folder);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  // Reap it whenever it ends, so it leaves no zombie behind; the program
  // keeps running when the application exits first.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return pid;
}

}  // namespace

int SpawnProgram(const std::string& Program, const std::vector<std::string>& Argv, int KeepFd,
                 const std::vector<std::string>& Env) {
  return Spawn(Program, -1, Argv, KeepFd, Env);
}

int SpawnProgramIn(int FolderFd, const std::string& Name, const std::vector<std::string>& Argv, int KeepFd,
                   const std::vector<std::string>& Env) {
  if (FolderFd < 0 || Name.empty() || Name.find('/') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  return Spawn(Name, FolderFd, Argv, KeepFd, Env);
}

void OpenWithDesktop(const std::string& Address) {
  // Debian's browser choice when the desktop has no opener.
  if (SpawnDetached({"xdg-open", Address}) <= 0) SpawnDetached({"sensible-browser", Address});
}

}  // namespace kelvora::platform
