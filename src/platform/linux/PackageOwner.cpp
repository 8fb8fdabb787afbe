#include "platform/PackageOwner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace kelvora::platform {
namespace {

// dpkg-query answers from its database in a fraction of a second; a hung one
// (a broken file system) must not hang the check.
constexpr int kQueryMillis = 10000;
constexpr size_t kOutputLimit = 1 << 20;

// The output of `dpkg-query -S Path`, or empty when it could not be run, did
// not finish in time, or found nothing.
std::string QueryOwner(const std::string& Path) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // A path with a glob character would match other files: dpkg-query takes
  // its argument as a pattern, so such characters are escaped.
  std::string pattern;
  for (const char c : Path) {
    if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  const char* argv[] = {"dpkg-query", "-S", "--", pattern.c_str(), nullptr};
  pid_t pid = -1;
  const int spawned =
      ::posix_spawnp(&pid, "dpkg-query", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(out[0]);
    return {};
  }
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQueryMillis);
  bool finished = false;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::array<char, 4096> buffer;
    const ssize_t n = ::read(out[0], buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      finished = true;
      break;
    }
    if (text.size() < kOutputLimit) text.append(buffer.data(), static_cast<size_t>(n));
  }
  ::close(out[0]);
  if (!finished) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return finished && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
}

// The package of the line "pkg[:arch][, other]: Path" in Output, the first
// one named; a diversion note ("diversion by x from: Path") is not an owner.
std::string PackageOf(const std::string& Output, const std::string& Path) {
  size_t start = 0;
  while (start < Output.size()) {
    size_t end = Output.find('\n', start);
    if (end == std::string::npos) end = Output.size();
    const std::string line = Output.substr(start, end - start);
    start = end + 1;
    const std::string tail = ": " + Path;
    if (line.size() <= tail.size() || line.compare(line.size() - tail.size(), tail.size(), tail) != 0) continue;
    std::string owners = line.substr(0, line.size() - tail.size());
    if (owners.rfind("diversion by ", 0) == 0) continue;
    owners = owners.substr(0, owners.find(','));
    if (!owners.empty()) return owners;
  }
  return {};
}

}  // namespace

std::string OwningPackage(const std::string& Path) {
  if (Path.empty() || Path[0] != '/') return {};
  std::vector<std::string> names{Path};
  char resolved[PATH_MAX];
  if (::realpath(Path.c_str(), resolved) != nullptr && names[0] != resolved) names.emplace_back(resolved);
  // Debian merged /bin, /sbin and /lib into /usr; packages still list the
  // old names.
  for (size_t i = 0, n = names.size(); i < n; ++i)
    for (const char* merged : {"/usr/bin/", "/usr/sbin/", "/usr/lib/", "/usr/lib64/"})
      if (names[i].rfind(merged, 0) == 0) names.push_back(names[i].substr(4));
  for (const std::string& name : names) {
    const std::string owner = PackageOf(QueryOwner(name), name);
    if (!owner.empty()) return owner;
  }
  return {};
}

}  // namespace kelvora::platform
