// Metered connections: a check nobody asked for reads the info file but
// leaves a release's download for a connection that costs nothing.
#include "kelvora/DeveloperLog.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/kvKelvora.h"
#include "platform/ConnectionCost.h"

namespace kelvora {

bool TkvKelvora::ReleaseIsCritical(const TReleaseInfo& /*Release*/) const {
  // The release-control keys mark critical releases; until they are read,
  // no release is.
  return false;
}

bool TkvKelvora::WaitForUnmeteredConnection(const TReleaseInfo& Release, bool& Ask) {
  Ask = false;
  if (downloadOnMetered_ || ReleaseIsCritical(Release)) return false;
  if (platform::ConnectionCost() != platform::TConnectionCost::Metered) return false;
  if (!automaticCheck_) {
    Ask = true;  // the person decides, asked even where the question is off
    return false;
  }
  deferredOnMetered_ = true;
  DeveloperNote(foundRelease_ + " of " + infoFileURL_ + " is not downloaded by an automatic check over a metered " +
                "connection; a later check on another connection, a person's check, or DownloadOnMetered does");
  return true;
}

}  // namespace kelvora
