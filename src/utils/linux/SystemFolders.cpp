// Paths on Linux: the running program, the working folder and the path rules.
#include "utils/SystemFolders.h"

#include <unistd.h>

#include <climits>

#include "kelvora/kvUtils.h"
#include "platform/Folders.h"

namespace kelvora {

namespace utils {

std::string ProgramFileName() { return platform::ExecutablePath(); }

std::string WorkingFolder() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

char PathSeparator() { return '/'; }
bool IsPathSeparator(char C) { return C == '/'; }
bool IsAbsolutePath(const std::string& Path) { return !Path.empty() && Path[0] == '/'; }

}  // namespace utils
}  // namespace kelvora
