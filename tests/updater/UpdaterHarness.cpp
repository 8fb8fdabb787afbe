#include "updater/UpdaterHarness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kvtest {

namespace {

std::vector<std::string> BuildEnv(const EnvChanges& Changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (Changes.count(name) == 0) env.push_back(entry);
  }
  for (const auto& [name, value] : Changes)
    if (value) env.push_back(name + "=" + *value);
  return env;
}

}  // namespace

Child::Child(const std::vector<std::string>& Argv, const EnvChanges& Env, const std::string& LogFile) {
  std::vector<std::string> envStrings = BuildEnv(Env);
  std::vector<char*> argv, envp;
  for (const auto& a : Argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  const int rc = posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + Argv[0]);
}

Child::~Child() {
  if (!reaped_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait(5000);
  }
}

bool Child::Running() {
  if (reaped_) return false;
  if (::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

int Child::Wait(int TimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (Running()) {
    if (std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

UpdaterFolders::UpdaterFolders() {
  // The files a case writes as downloads are the user's alone, as the
  // engine's are, whatever umask the machine runs the tests with.
  ::umask(022);
  ::mkdir(App().c_str(), 0755);
  ::mkdir(Tmp().c_str(), 0700);
}

EnvChanges UpdaterFolders::Env() const {
  // The session's autostart entries go below the test folder too.
  return {{"TMPDIR", Tmp()}, {"XDG_RUNTIME_DIR", std::nullopt}, {"KV_PROBE_HOLD", std::nullopt},
          {"XDG_CONFIG_HOME", Root("config")}};
}

void WriteQueue(const std::string& AppPath, const std::vector<QueueItem>& Items, int ConfirmSeconds) {
  const size_t slash = AppPath.rfind('/');
  const std::string state = AppPath.substr(0, slash + 1) + "." + AppPath.substr(slash + 1) + ".kelvora/";
  ::mkdir(state.c_str(), 0700);
  std::string text = "kelvora-queue 1\n";
  if (ConfirmSeconds > 0) text += "confirm\t" + std::to_string(ConfirmSeconds) + "\n";
  for (const auto& i : Items) text += i.Download + "\t" + i.Target + (i.Setup ? "\tsetup" : "") + "\n";
  WriteTextFile(state + "queue", text + "end\n");
}

std::string UpdaterExe() { return KV_UPDATER_EXE; }
std::string ProbeExe() { return KV_PROBE_EXE; }

void CopyProgram(const std::string& From, const std::string& To, mode_t Mode) {
  std::filesystem::copy_file(From, To, std::filesystem::copy_options::overwrite_existing);
  ::chmod(To.c_str(), Mode);
}

int RunUpdater(const UpdaterFolders& F, const std::vector<std::string>& Args, EnvChanges Extra) {
  EnvChanges env = F.Env();
  for (auto& [k, v] : Extra) env[k] = v;
  std::vector<std::string> argv{UpdaterExe()};
  argv.insert(argv.end(), Args.begin(), Args.end());
  Child c(argv, env, F.Log());
  return c.Wait(30000);
}

std::optional<std::string> WaitForFile(const std::string& Path, int TimeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!FileExists(Path)) {
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return ReadWholeFile(Path);
}

std::string DosAttrib(const std::string& Path) {
  char buf[32] = {};
  const ssize_t n = ::getxattr(Path.c_str(), "user.DOSATTRIB", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

mode_t ModeOf(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string OwnNice() { return "nice=" + std::to_string(::getpriority(PRIO_PROCESS, 0)) + "\n"; }

}  // namespace kvtest
