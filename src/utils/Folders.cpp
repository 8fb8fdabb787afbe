// The running program, the special folders and folder macros.
#include "kelvora/kvUtils.h"
#include "utils/SystemFolders.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

std::string WithSeparator(std::string S) {
  if (S.empty() || !utils::IsPathSeparator(S.back())) S += utils::PathSeparator();
  return S;
}

struct TProgramNames {
  std::string Folder;
  std::string ExeName;
};

const TProgramNames& ProgramNames() {
  static const TProgramNames names = [] {
    TProgramNames n;
    n.ExeName = utils::ProgramFileName();
    size_t sep = std::string::npos;
    for (size_t i = 0; i < n.ExeName.size(); ++i)
      if (utils::IsPathSeparator(n.ExeName[i])) sep = i;
    if (sep != std::string::npos) {
      n.Folder = n.ExeName.substr(0, sep + 1);
    } else {
      // The executable cannot be named: the working folder.
      const std::string cwd = utils::WorkingFolder();
      if (!cwd.empty()) n.Folder = WithSeparator(cwd);
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

std::string GetTempFolder() {
  std::string temp = utils::SystemTempFolder();
  if (!temp.empty() && FolderExists(temp)) return WithSeparator(temp);
  return CurrentFolder();
}

std::string GetSpecialFolder(int Index) {
  if (Index < 0 || Index > 12) Index = 0;
  switch (Index) {
    case 0: return CurrentFolder();
    case 8: return GetTempFolder();
    case 12: return std::string();  // no folder, no separator
    // An unknown folder gives a lone separator, as a missing registry value
    // does in the system.
    default: return WithSeparator(utils::SpecialFolderOfRow(Index));
  }
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
  // A relative path of at least three characters is made absolute below the
  // program's folder.
  if (PrefixRelative && result.size() >= 3 && !utils::IsAbsolutePath(result)) result = CurrentFolder() + result;
  return result;
}

}  // namespace kelvora
