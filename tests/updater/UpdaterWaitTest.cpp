// The updater against running programs: it waits while the application's
// executable is in use, gives up after its limit without changing anything,
// and in setup mode runs the downloaded setup before the application.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

// The nice values of every thread of a process.
std::vector<int> ThreadNices(pid_t Pid) {
  std::vector<int> nices;
  const std::string tasks = "/proc/" + std::to_string(Pid) + "/task";
  DIR* d = ::opendir(tasks.c_str());
  if (d == nullptr) return nices;
  while (const dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + e->d_name + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(all.substr(close + 2));
    std::string field;
    for (int i = 0; i < 17 && fields >> field; ++i) {
    }
    nices.push_back(std::stoi(field));  // the 19th field
  }
  ::closedir(d);
  return nices;
}

// The application, a copy of the stand-in program, running until released.
bool Copied(const std::string& To) {
  CopyProgram(ProbeExe(), To);
  return true;
}

struct RunningApp {
  explicit RunningApp(const UpdaterFolders& F)
      : path(F.App("demo")), copied(Copied(path)), proc({path, "running"}, {{"KV_PROBE_HOLD", "1"}}, F.Root("app.log")) {
    started = WaitForFile(path + ".started").has_value();
    ::unlink((path + ".started").c_str());
  }
  void Release() { WriteTextFile(path + ".release", ""); }
  std::string path;
  bool copied;
  Child proc;
  bool started = false;
};

TEST(UpdaterWait, WaitsAtLowPriorityUntilTheApplicationHasEnded) {
  UpdaterFolders f;
  RunningApp app(f);
  ASSERT_TRUE(app.started);
  CopyProgram(ProbeExe(), f.App("demo.uTMP"), 0644);
  WriteQueue(app.path, {{f.App("demo.uTMP"), app.path}});
  Child updater({UpdaterExe(), app.path, "+/afterupgrade0"}, f.Env(), f.Log());

  // Polling from a thread of lowest priority; the main thread keeps its own.
  const int own = getpriority(PRIO_PROCESS, 0);
  bool lowered = false;
  for (int i = 0; i < 2000 && !lowered && updater.Running(); ++i) {
    for (int n : ThreadNices(updater.Pid())) lowered = lowered || n >= 10;
    if (!lowered) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(lowered);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(updater.Running()) << "still waiting";
  EXPECT_TRUE(FileExists(f.App("demo.uTMP")));

  app.Release();
  EXPECT_EQ(app.proc.Wait(20000), 0);
  EXPECT_EQ(updater.Wait(20000), 0) << ReadWholeFile(f.Log());
  EXPECT_FALSE(FileExists(f.App("demo.uTMP")));
  auto started = WaitForFile(app.path + ".started");
  ASSERT_TRUE(started);
  EXPECT_EQ(*started, "/afterupgrade\nnice=" + std::to_string(own) + "\n");
}

TEST(UpdaterWait, GivesUpAfterItsLimitMovesNothingAndDropsTheUpgrade) {
  UpdaterFolders f;
  RunningApp app(f);
  ASSERT_TRUE(app.started);
  WriteTextFile(f.App("demo.uTMP"), "new build");
  WriteTextFile(f.App("lib.so.uTMP"), "library");
  WriteQueue(app.path, {{f.App("demo.uTMP"), app.path}, {f.App("lib.so.uTMP"), f.App("lib.so")}});
  EXPECT_EQ(RunUpdater(f, {app.path, "+/afterupgrade0"}, {{"KELVORA_UPDATER_WAIT_MS", "200"}}), 1);
  EXPECT_EQ(ReadWholeFile(app.path), ReadWholeFile(ProbeExe()));
  EXPECT_FALSE(FileExists(f.App("lib.so")));
  // The downloads go; the next start says why.
  EXPECT_FALSE(FileExists(f.App("demo.uTMP")));
  EXPECT_FALSE(FileExists(f.App("lib.so.uTMP")));
  EXPECT_FALSE(FileExists(f.QueueFile()));
  EXPECT_NE(ReadWholeFile(f.State() + "failed").find("another instance of the program was still running"),
            std::string::npos);
  EXPECT_NE(ReadWholeFile(f.Log()).find("still running"), std::string::npos);
  EXPECT_TRUE(app.proc.Running());
  app.Release();
  EXPECT_EQ(app.proc.Wait(20000), 0);
  EXPECT_FALSE(FileExists(app.path + ".started")) << "not started again";
}

TEST(UpdaterSetup, RunsTheSetupUntilItEndsThenDeletesItAndStartsTheApplication) {
  UpdaterFolders f;
  CopyProgram(ProbeExe(), f.App("demo"));
  CopyProgram(ProbeExe(), f.App("install.exe.uTMP"), 0644);
  WriteTextFile(f.App("zz.exe.uTMP"), "a second program file keeps its name");
  WriteQueue(f.App("demo"), {{f.App("install.exe.uTMP"), f.App("install.exe"), true},
                             {f.App("zz.exe.uTMP"), f.App("zz.exe")}});
  // Every program the updater starts holds until released.
  Child updater({UpdaterExe(), f.App("demo"), "+/afterupgrade1"}, [&] {
    auto env = f.Env();
    env["KV_PROBE_HOLD"] = "1";
    return env;
  }(), f.Log());

  auto setupArgs = WaitForFile(f.App("install.exe.started"));
  ASSERT_TRUE(setupArgs);
  EXPECT_EQ(setupArgs->substr(0, 14), "/afterupgrade\n");
  EXPECT_EQ(DosAttrib(f.App("install.exe")), "0x22") << "hidden while it runs";
  EXPECT_EQ(ReadWholeFile(f.App("zz.exe")), "a second program file keeps its name");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(FileExists(f.App("demo.started"))) << "the application waits for the setup";
  EXPECT_TRUE(updater.Running());

  WriteTextFile(f.App("install.exe.release"), "");
  EXPECT_EQ(updater.Wait(20000), 0) << ReadWholeFile(f.Log());
  EXPECT_FALSE(FileExists(f.App("install.exe")));
  auto appArgs = WaitForFile(f.App("demo.started"));
  ASSERT_TRUE(appArgs);
  EXPECT_EQ(appArgs->substr(0, 14), "/afterupgrade\n");
  WriteTextFile(f.App("demo.release"), "");
}

TEST(UpdaterSetup, WithoutASetupTheApplicationStartsAsInASelfUpgrade) {
  UpdaterFolders f;
  WriteTextFile(f.App("demo"), "old build");
  CopyProgram(ProbeExe(), f.App("demo.uTMP"), 0644);  // its own download: no setup among the files
  WriteTextFile(f.App("install.exe.uTMP"), "not run");
  WriteTextFile(f.App("lib.so.uTMP"), "library");
  WriteQueue(f.App("demo"), {{f.App("demo.uTMP"), f.App("demo")},
                             {f.App("install.exe.uTMP"), f.App("install.exe")},
                             {f.App("lib.so.uTMP"), f.App("lib.so")}});
  ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade1"}), 0);
  auto started = WaitForFile(f.App("demo.started"));
  ASSERT_TRUE(started);
  EXPECT_EQ(started->substr(0, 14), "/afterupgrade\n");
  EXPECT_EQ(ReadWholeFile(f.App("demo")), ReadWholeFile(ProbeExe())) << "never deleted";
  EXPECT_EQ(ReadWholeFile(f.App("install.exe")), "not run");
  EXPECT_EQ(ReadWholeFile(f.App("lib.so")), "library");
}

}  // namespace
}  // namespace kvtest
