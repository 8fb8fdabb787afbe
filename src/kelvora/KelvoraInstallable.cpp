// Before the question "Upgrade now?": whether this installation can take the
// release at all. A program a package manager owns is updated by that
// package manager; a program whose folder (or a target's folder) the user
// may not change cannot be upgraded from this account. Either is told,
// in words, instead of a question whose Yes could only fail.
#include <cerrno>
#include <set>

#include "kelvora/UpgradeRun.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/WriteFailure.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/kvUtils.h"
#include "platform/PackageOwner.h"

namespace kelvora {

const std::string& TkvKelvora::FindPackageOwner() {
  if (!d_->packageOwnerKnown_) {
    d_->packageOwnerKnown_ = true;
    d_->foundPackageOwner_ = !d_->packageOwner_.empty() ? d_->packageOwner_
                         : d_->packageCheck_        ? platform::OwningPackage(CurrentExeName())
                                                : std::string();
  }
  return d_->foundPackageOwner_;
}

std::string TkvKelvora::UnwritableFolder(int& Error) const {
  // The program's folder first: the run's records and the updater live
  // there. Then each target's, or the deepest part of it that exists.
  std::set<std::string> tried;
  std::vector<std::string> folders{CurrentFolder()};
  for (int i = 0; i < d_->fileList_.Count(); ++i) folders.push_back(ExistingFolderOf(ResolvedTarget(i)));
  for (const std::string& folder : folders) {
    if (folder.empty() || !tried.insert(folder).second) continue;
    if (!detail::CanWriteFolder(folder)) {
      Error = errno;
      return folder;
    }
  }
  return {};
}

bool TkvKelvora::InstallableHere() {
  std::string text;
  const std::string& package = FindPackageOwner();
  int error = 0;
  std::string folder;
  if (!package.empty()) {
    text = FormatLangText(ltPackageManaged, {ShownTitle(), package});
  } else if (!(folder = UnwritableFolder(error)).empty()) {
    text = NotAllowedToWrite(error) ? FormatLangText(ltCannotUpgradeHere, {ShownTitle(), folder})
                                    : CannotWriteText(folder, error);
  } else {
    return true;
  }
  d_->lastFailure_ = text;
  ShowUpgraderMessage(text, package.empty() ? mbIconError : mbIconInformation);
  AbortUpgrade();
  return false;
}

}  // namespace kelvora
