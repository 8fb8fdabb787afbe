// The properties and state queries of a TkvKelvora, out of line: its state
// lives in the library.
#include "kelvora/KelvoraData.h"

namespace kelvora {

bool TkvKelvora::AutoCheck() const { return d_->autoCheck_; }
int32_t TkvKelvora::AutoCheckDelay() const { return d_->autoCheckDelay_; }
void TkvKelvora::SetAutoCheckDelay(int32_t Value) { d_->autoCheckDelay_ = Value; }
TkvCacheOptions TkvKelvora::CacheOptions() const { return d_->cacheOptions_; }
void TkvKelvora::SetCacheOptions(TkvCacheOptions Value) { d_->cacheOptions_ = Value; }
TkvKelvoraInfo& TkvKelvora::InfoFile() { return d_->info_; }
const std::string& TkvKelvora::InfoFileURL() const { return d_->infoFileURL_; }
void TkvKelvora::SetInfoFileURL(const std::string& Value) { d_->infoFileURL_ = Value; }
const std::string& TkvKelvora::RestartParams() const { return d_->restartParams_; }
const std::vector<std::string>& TkvKelvora::RestartArguments() const { return d_->restartArguments_; }
void TkvKelvora::SetRestartArguments(std::vector<std::string> Value) { d_->restartArguments_ = std::move(Value); }
TztMiscFilesUpgradeBehavior TkvKelvora::MiscFilesUpgrade() const { return d_->miscFilesUpgrade_; }
void TkvKelvora::SetMiscFilesUpgrade(TztMiscFilesUpgradeBehavior Value) { d_->miscFilesUpgrade_ = Value; }
TkvKelvoraVersionControl TkvKelvora::VersionControl() const { return d_->versionControl_; }
void TkvKelvora::SetVersionControl(TkvKelvoraVersionControl Value) { d_->versionControl_ = Value; }
const std::string& TkvKelvora::VersionDate() const { return d_->versionDate_; }
void TkvKelvora::SetVersionDate(const std::string& Value) { d_->versionDate_ = Value; }
bool TkvKelvora::VersionDateAutoSet() const { return d_->versionDateAutoSet_; }
const std::string& TkvKelvora::VersionNumber() const { return d_->versionNumber_; }
void TkvKelvora::SetVersionNumber(const std::string& Value) { d_->versionNumber_ = Value; }
TkvKelvoraShowMessages TkvKelvora::ShowMessages() const { return d_->showMessages_; }
void TkvKelvora::SetShowMessages(TkvKelvoraShowMessages Value) { d_->showMessages_ = Value; }
TkvKelvoraWizard& TkvKelvora::Wizard() { return d_->wizard_; }
const std::string& TkvKelvora::PublicKey() const { return d_->publicKey_; }
void TkvKelvora::SetPublicKey(const std::string& Value) { d_->publicKey_ = Value; }
TkvConfirmUpgrade TkvKelvora::ConfirmUpgrade() const { return d_->confirmUpgrade_; }
void TkvKelvora::SetConfirmUpgrade(TkvConfirmUpgrade Value) { d_->confirmUpgrade_ = Value; }
int32_t TkvKelvora::ConfirmTimeout() const { return d_->confirmTimeout_; }
bool TkvKelvora::PackageCheck() const { return d_->packageCheck_; }
const std::string& TkvKelvora::PackageOwner() const { return d_->packageOwner_; }
const std::string& TkvKelvora::OwnedByPackage() const { return d_->foundPackageOwner_; }
bool TkvKelvora::Aborted() const { return d_->aborted_; }
bool TkvKelvora::UpdateFound() const { return d_->updateFound_; }
bool TkvKelvora::Finished() const { return d_->finished_; }
bool TkvKelvora::InfoMode() const { return d_->infoMode_; }
TztUpgradeMethod TkvKelvora::FoundMethod() const { return static_cast<TztUpgradeMethod>(d_->foundMethod_); }
TkvStringList& TkvKelvora::FileList() { return d_->fileList_; }
const std::string& TkvKelvora::CurrentTarget() const { return d_->currentTarget_; }
int TkvKelvora::FileIndex() const { return d_->fileIndex_; }
bool TkvKelvora::AutoCheckFired() const { return d_->autoCheckFired_; }
bool TkvKelvora::AutoCheckRunning() const { return d_->autoCheckRunning_; }
const std::string& TkvKelvora::LastFailure() const { return d_->lastFailure_; }
int64_t TkvKelvora::PatchSavedBytes() const { return d_->patchSavedBytes_; }
const TReleaseInfo* TkvKelvora::ReleaseInfo() const { return d_->release_.get(); }
void TkvKelvora::SetUI(TkvUpgradeUI* UI) { d_->ui_ = UI; }
TkvUpgradeUI& TkvKelvora::UI() const { return d_->ui_ != nullptr ? *d_->ui_ : UpgradeUI(); }
void TkvKelvora::SetOnlineProbe(std::function<bool()> Probe) { d_->onlineProbe_ = std::move(Probe); }
bool TkvKelvora::Wants(TkvKelvoraShowMessage M) const { return (d_->showMessages_ & (1u << M)) != 0; }
bool TkvKelvora::InUse() const { return Busy() || d_->engaged_ > 0; }

const std::string& TkvKelvora::PolicyCompany() const { return d_->policyCompany_; }
void TkvKelvora::SetPolicyCompany(const std::string& Value) { d_->policyCompany_ = Value; }
void TkvKelvora::SetPolicyProduct(const std::string& Value) { d_->policyProduct_ = Value; }
const TAdminPolicy& TkvKelvora::AdminPolicy() const { return *d_->policy_; }
bool TkvKelvora::DownloadOnMetered() const { return d_->downloadOnMetered_; }
void TkvKelvora::SetDownloadOnMetered(bool Value) { d_->downloadOnMetered_ = Value; }
bool TkvKelvora::DeferredOnMetered() const { return d_->deferredOnMetered_; }

bool TkvKelvora::RequestedCheckIgnoresRollout() const { return d_->requestedCheckIgnoresRollout_; }
void TkvKelvora::SetRequestedCheckIgnoresRollout(bool Value) { d_->requestedCheckIgnoresRollout_ = Value; }

void TkvKelvora::SetPackageCheck(bool Value) {
  d_->packageCheck_ = Value;
  d_->packageOwnerKnown_ = false;
}
void TkvKelvora::SetPackageOwner(const std::string& Value) {
  d_->packageOwner_ = Value;
  d_->packageOwnerKnown_ = false;
}

}  // namespace kelvora
