#include "kelvora/UpdaterFile.h"

#include "kelvora/kvUtils.h"
#include "kelvora/trust/Crypto.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

namespace {

std::string WithSeparator(std::string Folder) {
  if (Folder.empty() || !updater::IsPathSeparator(Folder.back())) Folder += updater::kPathSeparator;
  return Folder;
}

}  // namespace

std::string UpdaterFileName(const std::string& ProgramPath) {
  trust::TSha256 hash;
  const std::string identity = PathIdentity(ProgramPath);
  hash.Update(identity.data(), identity.size());
  return "AppUpdate-" + hash.HexDigest().substr(0, 12) + ".exe";
}

std::string ChooseUpdaterFolder(const std::string& StateFolder, std::size_t Size) {
  const std::string temp = GetTempFolder();
  if (temp != CurrentFolder() && CanRunProgramsIn(temp, Size)) return WithSeparator(temp);
  if (CanRunProgramsIn(StateFolder, Size)) return WithSeparator(StateFolder);
  return std::string();
}

}  // namespace kelvora::detail
