// Running the real updater program and small stand-in programs in temporary
// folders: an application folder "app/" and a private temporary folder
// "tmp/" (the updater's TMPDIR) below one test folder.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/TestFiles.h"

namespace kvtest {

// Changes to the environment of a child: a value, or nullopt to remove it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

// A started child process; killed and reaped when the object goes away.
class Child {
 public:
  // Output (stdout and stderr) goes to LogFile.
  Child(const std::vector<std::string>& Argv, const EnvChanges& Env, const std::string& LogFile);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  pid_t Pid() const { return pid_; }
  bool Running();
  // The exit code, -1 when it did not end within TimeoutMs (or was killed).
  int Wait(int TimeoutMs);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
};

class UpdaterFolders {
 public:
  UpdaterFolders();
  std::string App(const std::string& Name = "") const { return root_.Path() + "/app/" + Name; }
  std::string Tmp(const std::string& Name = "") const { return root_.Path() + "/tmp/" + Name; }
  std::string Root(const std::string& Name = "") const { return root_.Path() + "/" + Name; }
  // The state folder of the program App(AppName), and its queue.
  std::string State(const std::string& AppName = "demo") const { return App("." + AppName + ".kelvora/"); }
  std::string QueueFile(const std::string& AppName = "demo") const { return State(AppName) + "queue"; }
  std::string Log() const { return Root("updater.log"); }
  // The environment the updater runs in: TMPDIR is tmp/, no XDG_RUNTIME_DIR,
  // no hold of the stand-in programs.
  EnvChanges Env() const;

 private:
  TempDir root_;
};

// One install step of a queue: the download, its target, and "setup" for
// the external setup program.
struct QueueItem {
  std::string Download, Target;
  bool Setup = false;
};
// Writes the committed queue of the program at AppPath (its state folder is
// created, mode 0700); ConfirmSeconds > 0 asks the restarted program to
// confirm its start.
void WriteQueue(const std::string& AppPath, const std::vector<QueueItem>& Items, int ConfirmSeconds = 0);

std::string UpdaterExe();
std::string ProbeExe();

// Copies a program file (mode 0755 unless given).
void CopyProgram(const std::string& From, const std::string& To, mode_t Mode = 0755);
// Runs the updater with Args to its end (bounded); returns its exit code.
int RunUpdater(const UpdaterFolders& F, const std::vector<std::string>& Args, EnvChanges Extra = {});
// Waits (bounded) for a file to exist; returns its content, or nullopt.
std::optional<std::string> WaitForFile(const std::string& Path, int TimeoutMs = 20000);
// The user.DOSATTRIB attribute of a file, "" when it has none.
std::string DosAttrib(const std::string& Path);
// The line the probe notes for its own priority: "nice=<value>".
std::string OwnNice();
mode_t ModeOf(const std::string& Path);

}  // namespace kvtest
