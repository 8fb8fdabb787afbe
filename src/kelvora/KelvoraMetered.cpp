// Metered connections: a check nobody asked for reads the info file but
// leaves a release's download for a connection that costs nothing.
#include "kelvora/DeveloperLog.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/kvKelvora.h"
#include "platform/ConnectionCost.h"

namespace kelvora {

bool TkvKelvora::ReleaseIsCritical(const TReleaseInfo& /*Release*/) const {
  // Decided with the offer: "#critical", or this version below "#minimum".
  return d_->offerUrgency_ != TOfferUrgency::Normal;
}

bool TkvKelvora::WaitForUnmeteredConnection(const TReleaseInfo& Release, bool& Ask) {
  Ask = false;
  if (d_->downloadOnMetered_ || ReleaseIsCritical(Release)) return false;
  if (platform::ConnectionCost() != platform::TConnectionCost::Metered) return false;
  if (!d_->automaticCheck_) {
    Ask = true;  // the person decides, asked even where the question is off
    return false;
  }
  d_->deferredOnMetered_ = true;
  DeveloperNote(d_->foundRelease_ + " of " + d_->infoFileURL_ + " is not downloaded by an automatic check over a metered " +
                "connection; a later check on another connection, a person's check, or DownloadOnMetered does");
  return true;
}

}  // namespace kelvora
