// Folders on Linux: the XDG user and base directories, and the usual places
// of the file-system hierarchy for the rows that name Windows folders.
#include "utils/SystemFolders.h"

#include <unistd.h>

#include <climits>

#include "kelvora/kvUtils.h"
#include "platform/Folders.h"

namespace kelvora {

std::string GetWindowsFolder() { return "/usr/"; }
std::string GetSystemFolder() { return "/usr/lib/"; }

namespace utils {

std::string ProgramFileName() { return platform::ExecutablePath(); }

std::string WorkingFolder() {
  char buf[PATH_MAX];
  return ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string();
}

char PathSeparator() { return '/'; }
bool IsPathSeparator(char C) { return C == '/'; }
bool IsAbsolutePath(const std::string& Path) { return !Path.empty() && Path[0] == '/'; }

std::string SpecialFolderOfRow(int Index) {
  switch (Index) {
    case 1: return platform::KnownFolder(platform::TKnownFolder::Desktop);
    case 2: return platform::KnownFolder(platform::TKnownFolder::Documents);
    case 3: return platform::KnownFolder(platform::TKnownFolder::Pictures);
    case 4: return platform::KnownFolder(platform::TKnownFolder::AppData);
    case 5: return "/opt/";
    case 6: return GetWindowsFolder();
    case 7: return GetSystemFolder();
    case 9: return "/usr/share/help/";
    case 10: return "/usr/share/sounds/";
    case 11: return "/usr/share/icons/";
    default: return std::string();
  }
}

std::string SystemTempFolder() { return platform::PrivateTempFolder(); }

}  // namespace utils
}  // namespace kelvora
