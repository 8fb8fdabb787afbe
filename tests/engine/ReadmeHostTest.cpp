// The README's headless example as a real program: upgraded from the test's
// nginx by the real updater, whose new build still carries the old version
// number.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "engine/EngineFixture.h"
#include "support/TestProcess.h"

using namespace kelvora;
using namespace kvtest;

namespace {

// The processes running the program at Path; a program the updater started
// again is no child of the test, so it is found by its executable.
std::vector<pid_t> ProcessesOf(const std::string& Path) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* e = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
    if (pid <= 0) continue;
    char target[4096];
    const std::string link = "/proc/" + std::string(e->d_name) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == Path) found.push_back(pid);
  }
  ::closedir(proc);
  return found;
}

// Ends every process of the programs in this test's folders, however the case ends.
struct ProgramReaper {
  std::vector<std::string> Paths;
  ~ProgramReaper() {
    for (int round = 0; round < 100; ++round) {
      bool any = false;
      for (const auto& p : Paths)
        for (pid_t pid : ProcessesOf(p)) any = true, ::kill(pid, SIGKILL);
      if (!any) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
};

// Lines of the program's output until one equal to Last (or the limit), and
// whatever else arrives within Quiet after it.
std::vector<std::string> OutputUntil(TestProcess& P, const std::string& Last, std::chrono::milliseconds Quiet) {
  std::vector<std::string> lines;
  std::string line;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool seen = false;
  while (std::chrono::steady_clock::now() < end) {
    if (!P.ReadLine(line, 100)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // also when every writer has gone
      continue;
    }
    lines.push_back(line);
    if (!seen && line == Last) {
      seen = true;
      end = std::chrono::steady_clock::now() + Quiet;
    }
  }
  return lines;
}

}  // namespace

TEST_F(EngineTest, ReadmeHostIsRestartedOnceAndDoesNotLoopOnAnUnchangedVersionNumber) {
  TempDir app;
  const std::string program = app.File("myapp");
  ProgramReaper reaper{{program, UpdaterPath()}};
  const std::string build = ReadWholeFile(KVTEST_README_HOST);
  ASSERT_FALSE(build.empty());
  WriteTextFile(program, build);
  ::chmod(program.c_str(), 0755);
  // The "new" build still says 1.4.0; a marker at its end tells it apart.
  const std::string marker = "\nKVTEST-NEW-BUILD\n";
  server->AddTextFile("myapp", build + marker);
  PublishInfo("#version=1.5.0\n#url1=" + server->Url("/myapp") + "=%current%myapp\n");
  ::setenv("KVTEST_INFO_URL", k->InfoFileURL().c_str(), 1);

  {
    TestProcess first({program}, app.File("first.err"));
    // The upgrade, the updater's restart and that run's own check; a host
    // that loops would go on reporting "updated".
    const auto lines = OutputUntil(first, "myapp: up to date", std::chrono::seconds(3));
    EXPECT_EQ(lines, (std::vector<std::string>{"myapp: updated", "myapp: up to date"}))
        << ReadWholeFile(app.File("first.err"));
    const std::string now = ReadWholeFile(program);
    EXPECT_TRUE(now.size() > marker.size() && now.compare(now.size() - marker.size(), marker.size(), marker) == 0)
        << "the program was replaced";
    EXPECT_EQ(ProcessesOf(program).size(), 1u) << "the restarted run keeps running";
  }
  for (pid_t pid : ProcessesOf(program)) ::kill(pid, SIGTERM);

  // A plain start later on: the release is in place, nothing is installed.
  TestProcess later({program}, app.File("later.err"));
  const auto lines = OutputUntil(later, "myapp: up to date", std::chrono::milliseconds(500));
  EXPECT_EQ(lines, std::vector<std::string>{"myapp: up to date"}) << ReadWholeFile(app.File("later.err"));
  later.Stop();
  ::unsetenv("KVTEST_INFO_URL");
}
