#include "Updater.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Command.h"
#include "ExitWait.h"
#include "FileMoves.h"
#include "Launch.h"
#include "QueueFile.h"
#include "TempFolder.h"

namespace kelvora::updater {

namespace {

constexpr const char* kTempSuffix = ".uTMP";
constexpr size_t kTempSuffixLen = 5;

bool Exists(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

void Report(const std::string& What, const std::string& Path) {
  std::fprintf(stderr, "AppUpdate: %s %s: %s\n", What.c_str(), Path.c_str(), std::strerror(errno));
}

// The regular files of Folder whose names end in ".uTMP", in name order so
// that the outcome does not depend on the order of the directory.
std::vector<std::string> Downloads(const std::string& Folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(Folder.c_str());
  if (dir == nullptr) return names;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    struct stat st {};
    if (EndsWith(name, kTempSuffix) && ::lstat((Folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void ShowInformation() {
  std::printf(
      "Upgrader v4.0\n"
      "Self-upgrading mechanism for Kelvora component.\n"
      "The application starts it after an upgrade has been downloaded; there is nothing to do by hand.\n");
}

}  // namespace

int RunUpdater(const std::vector<std::string>& Args, std::chrono::milliseconds WaitLimit) {
  if (Args.empty()) {
    ShowInformation();
    return 0;
  }
  const TCommand cmd = ParseCommand(Args);
  if (cmd.AppPath.empty() || cmd.AppPath[0] != '/') {
    // The application always names itself in full; anything else would move
    // files in whatever folder the updater happens to run in.
    std::fprintf(stderr, "AppUpdate: \"%s\" is not the full path of a program; nothing was changed\n",
                 cmd.AppPath.c_str());
    return 2;
  }
  const std::string folder = FolderOf(cmd.AppPath);
  const std::string appName = NameOf(cmd.AppPath);

  if (Exists(cmd.AppPath) && !WaitUntilFree(cmd.AppPath, WaitLimit)) {
    std::fprintf(stderr, "AppUpdate: %s is still running; nothing was changed\n", cmd.AppPath.c_str());
    return 1;
  }

  // The application's own download under its own name settles which file
  // replaces the program; another program file then keeps its name. A
  // nameless download counts the same way.
  bool programSettled = Exists(folder + appName + kTempSuffix) || Exists(folder + kTempSuffix);

  // The queue: downloads with an explicit target. Without a private
  // temporary folder the application keeps the queue in its own folder.
  std::string queueFolder = PrivateTempFolder();
  if (queueFolder.empty()) queueFolder = folder.substr(0, folder.size() - 1);
  const std::string queuePath = queueFolder + "/" + kQueueFileName;
  for (const std::string& target : QueueLines(ReadQueueText(queuePath))) {
    if (target.empty()) continue;
    if (target[0] != '/') {
      errno = EINVAL;
      Report("skipped the relative queue entry", target);
      continue;
    }
    const std::string download = target + kTempSuffix;
    if (!Exists(download)) continue;  // skipped while downloading: the old file stays
    if (MoveOver(download, target))
      SetAttributes(target, kAttrArchive);
    else
      Report("could not move", download);
  }

  // The sweep: downloads without a target lie in the application's folder.
  std::string setupProgram;
  for (const std::string& name : Downloads(folder)) {
    std::string base = name.substr(0, name.size() - kTempSuffixLen);
    if (base.empty()) continue;  // no name to put it under
    bool isSetup = false;
    if (!programSettled && EndsWith(base, "exe")) {
      // The first downloaded program file: the application's new build
      // whatever its name, or in setup mode the setup program to run.
      if (cmd.SetupMode)
        isSetup = true;
      else
        base = appName;
      programSettled = true;
    }
    const std::string target = folder + base;
    // The setup is deleted after it has run: never when it is the
    // application itself.
    if (isSetup && target == cmd.AppPath) isSetup = false;
    if (!MoveOver(folder + name, target)) {
      Report("could not move", folder + name);
      continue;
    }
    if (isSetup) {
      SetAttributes(target, kAttrHidden | kAttrArchive);
      MakeExecutable(target);
      setupProgram = target;
    } else {
      SetAttributes(target, kAttrArchive);
      if (target == cmd.AppPath) MakeExecutable(target);
    }
  }

  // Removed before anything starts, so that a program started now may write
  // a queue of its own.
  if (::unlink(queuePath.c_str()) != 0 && errno != ENOENT) Report("could not delete", queuePath);

  const std::string first = setupProgram.empty() ? cmd.AppPath : setupProgram;
  const pid_t pid = StartProgram(first, cmd.RestartParams);
  if (pid < 0) Report("could not start", first);
  if (setupProgram.empty()) return 0;

  // External setup: once it has ended it is deleted and the application
  // starts.
  if (pid > 0) WaitForExit(pid);
  if (WaitUntilFree(setupProgram, WaitLimit)) {
    if (::unlink(setupProgram.c_str()) != 0) Report("could not delete", setupProgram);
  } else {
    std::fprintf(stderr, "AppUpdate: %s is still running; it is left in place\n", setupProgram.c_str());
  }
  if (StartProgram(cmd.AppPath, cmd.RestartParams) < 0) Report("could not start", cmd.AppPath);
  return 0;
}

}  // namespace kelvora::updater
