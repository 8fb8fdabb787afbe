// The administrator's policy as the component applies it: read at each
// check, refusing the checks it does not allow before any request.
#include "kelvora/AdminPolicy.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

std::string TkvKelvora::PolicyProduct() const {
  if (!d_->policyProduct_.empty()) return d_->policyProduct_;
  std::string name = CurrentExeName();
  if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

const TAdminPolicy& TkvKelvora::RefreshAdminPolicy() {
  d_->policy_ = std::make_shared<const TAdminPolicy>(ReadAdminPolicy(d_->policyCompany_, PolicyProduct()));
  return *d_->policy_;
}

std::string TkvKelvora::PolicyChannel() const { return d_->policy_->Channel.value_or(std::string()); }

bool TkvKelvora::ManagedByPolicy() const { return !d_->policy_->Empty(); }

bool TkvKelvora::RefusedByPolicy(bool Automatic, bool CheckOnly) {
  const TAdminPolicy& policy = RefreshAdminPolicy();
  if (policy.AllowsCheck(Automatic)) return false;
  const std::string reason = policy.UpdatesEnabled == false ? "the administrator's policy turns updates off"
                             : Automatic ? "the administrator's policy turns automatic checks off"
                                         : "the administrator's policy allows no check a person starts";
  // A person who asked, and is told how a check ends, is told why nothing
  // happens; a check by itself stays quiet.
  std::weak_ptr<bool> alive = d_->engineAlive_;
  if (!Automatic && !CheckOnly && Wants(mNoUpdateAvailable)) ShowUpgraderMessage(GetLangText(ltManagedByOrganisation), mbIconInformation);
  if (!alive.expired() && OnPolicyRefused) OnPolicyRefused(this, reason);
  return true;
}

}  // namespace kelvora
