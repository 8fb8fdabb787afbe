#include "kelvora/StateFolder.h"

#include "kelvora/kvUtils.h"

namespace kelvora {

std::string StateFolderOf(const std::string& ProgramPath) {
  const size_t slash = ProgramPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : ProgramPath.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? ProgramPath : ProgramPath.substr(slash + 1);
  return folder + "." + name + ".kelvora/";
}

std::string StateFolder() { return StateFolderOf(CurrentExeName()); }

}  // namespace kelvora
