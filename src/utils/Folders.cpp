// The running program, the special folders and folder macros.
#include <unistd.h>

#include <climits>

#include "kelvora/kvUtils.h"
#include "platform/Folders.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

std::string WithSlash(std::string S) {
  if (S.empty() || S.back() != '/') S += '/';
  return S;
}

struct TProgramNames {
  std::string Folder;
  std::string ExeName;
};

const TProgramNames& ProgramNames() {
  static const TProgramNames names = [] {
    TProgramNames n;
    n.ExeName = platform::ExecutablePath();
    const size_t slash = n.ExeName.rfind('/');
    if (slash != std::string::npos) {
      n.Folder = n.ExeName.substr(0, slash + 1);
    } else {
      // The executable cannot be named (no /proc): the working folder.
      char buf[PATH_MAX];
      if (::getcwd(buf, sizeof buf) != nullptr) n.Folder = WithSlash(buf);
    }
    return n;
  }();
  return names;
}

// Set when the unit starts, as the system does.
[[maybe_unused]] const TProgramNames& gStartNames = ProgramNames();

}  // namespace

const std::string& CurrentFolder() { return ProgramNames().Folder; }
const std::string& CurrentExeName() { return ProgramNames().ExeName; }

std::string GetWindowsFolder() { return "/usr/"; }
std::string GetSystemFolder() { return "/usr/lib/"; }

std::string GetTempFolder() {
  std::string temp = platform::PrivateTempFolder();
  if (!temp.empty() && FolderExists(temp)) return WithSlash(temp);
  return CurrentFolder();
}

std::string GetSpecialFolder(int Index) {
  if (Index < 0 || Index > 12) Index = 0;
  std::string folder;
  switch (Index) {
    case 0: folder = CurrentFolder(); break;
    case 1: folder = platform::XdgUserDir("DESKTOP", "Desktop"); break;
    case 2: folder = platform::XdgUserDir("DOCUMENTS", "Documents"); break;
    case 3: folder = platform::XdgUserDir("PICTURES", "Pictures"); break;
    case 4: folder = platform::XdgDataHome(); break;
    case 5: folder = "/opt/"; break;
    case 6: folder = GetWindowsFolder(); break;
    case 7: folder = GetSystemFolder(); break;
    case 8: folder = GetTempFolder(); break;
    case 9: folder = "/usr/share/help/"; break;
    case 10: folder = "/usr/share/sounds/"; break;
    case 11: folder = "/usr/share/icons/"; break;
    default: return std::string();  // row 12: no folder, no separator
  }
  // An unknown folder gives a lone separator, as a missing registry value
  // does in the system.
  return WithSlash(folder);
}

std::string ExpandFolderMacros(const std::string& Path, bool PrefixRelative) {
  std::string result = Path;
  for (int i = 0; i <= 11; ++i) {
    const std::string_view macro = FolderMacros[static_cast<size_t>(i)];
    std::string lower = utils::LowerCase(result);
    size_t at = lower.find(macro);
    if (at == std::string::npos) continue;
    // Every occurrence, ignoring case, left to right; the folder is looked
    // up only now that the macro occurs.
    const std::string folder = GetSpecialFolder(i);
    std::string out;
    out.reserve(result.size() + folder.size());
    size_t last = 0;
    while (at != std::string::npos) {
      out.append(result, last, at - last);
      out += folder;
      last = at + macro.size();
      at = lower.find(macro, last);
    }
    out.append(result, last, std::string::npos);
    result = std::move(out);
  }
  // A relative path (here: one not starting with "/") of at least three
  // characters is made absolute below the program's folder.
  if (PrefixRelative && result.size() >= 3 && result[0] != '/') result = CurrentFolder() + result;
  return result;
}

}  // namespace kelvora
