#include "kelvora/ProgramTarget.h"

#include "kelvora/DeveloperLog.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

namespace {
std::string NamePart(const std::string& Path) {
  size_t start = Path.size();
  while (start > 0 && !updater::IsPathSeparator(Path[start - 1])) --start;
  return Path.substr(start);
}
}  // namespace

bool RunTargetsProgram(const TkvStringList& Files, const std::vector<std::string>& Targets, const std::string& Program) {
  for (size_t i = 0; i < Targets.size(); ++i) {
    if (updater::SamePath(Targets[i], Program)) return true;
    const std::string name = NamePart(Targets[i]);
    if (static_cast<int>(i) < Files.Count() && Files.GetValue(static_cast<int>(i)).empty() && name.size() >= 3 &&
        name.compare(name.size() - 3, 3, "exe") == 0)
      return true;
  }
  return false;
}

void NoteWhenProgramNotTargeted(const TkvStringList& Files, const std::vector<std::string>& Targets,
                                TztUpgradeMethod Method, const std::string& Program, bool& Noted) {
  if (Noted || Method != umSelfUpgrade || RunTargetsProgram(Files, Targets, Program)) return;
  Noted = true;
  std::string listed;
  for (const auto& t : Targets) listed += (listed.empty() ? "" : ", ") + t;
  DeveloperNote("no entry of the info file replaces the running program " + Program + " (the entries go to " +
                listed + "): the upgrade installs them beside it and restarts the old program. Give the program's "
                "entry the target %current%" + NamePart(Program) + ".");
}

}  // namespace kelvora::detail
