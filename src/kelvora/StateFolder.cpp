#include "kelvora/StateFolder.h"

#include "kelvora/kvUtils.h"
#include "updater/Transaction.h"

namespace kelvora {

// One rule for the engine and the updater program: the updater's own source
// names the folder.
std::string StateFolderOf(const std::string& ProgramPath) { return updater::StateFolderFor(ProgramPath); }

std::string StateFolder() { return StateFolderOf(CurrentExeName()); }

}  // namespace kelvora
