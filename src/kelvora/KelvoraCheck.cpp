// The info file and the version decision.
#include "kelvora/Application.h"
#include "kelvora/InfoFile.h"
#include "kelvora/VersionDecision.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

std::string TkvKelvora::ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced) const {
  return kelvora::ReadInfoValue(Text, Key, Braced);
}

bool TkvKelvora::IsNewerVersion(const std::string& Text) const {
  return versionControl_ == byNumber ? IsNewerByNumber(Text, versionNumber_) : IsNewerByDate(Text, versionDate_);
}

std::string TkvKelvora::AskUpgradeText(const std::string& Message) const {
  std::string title = ProgramTitle();
  const std::string devEnv = GetResourceText(kDevEnvNameTextId);
  if (!devEnv.empty() && title.find(devEnv) != std::string::npos) title = GetResourceText(kAppTitleStandInTextId);
  const std::string msg = Message.empty() ? Message : "\n" + Message + "\n";
  return FormatLangText(ltAskUpgrade, {title, msg});
}

void TkvKelvora::ParseInfoFile(TStream& Data) {
  std::string text;
  const int64_t size = Data.Size() - Data.Position();
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    Data.ReadBuffer(text.data(), size);
  }
  ReadFileList(text, fileList_);
  const bool update = IsNewerVersion(text) && fileList_.Count() > 0;
  if (update) {
    updateFound_ = true;
    const std::string msg = ReadInfoValue(text, "#message", true);
    foundMethod_ = static_cast<uint8_t>(ReadUpgradeMethod(text));
    if (OnBeginUpgrade) OnBeginUpgrade(this, msg, FoundMethod(), fileList_, updateFound_);
    if (!checkOnly_) {
      if (!updateFound_ || (Wants(mAskUpgrade) && !UI().AskUpgrade(AskUpgradeText(msg)))) {
        if (OnLaterUpgrade) OnLaterUpgrade(this);
      } else if (foundMethod_ == umRedirectToURL) {
        if (fileList_.Count() > 0) OpenURL(fileList_[0], true);
      } else {
        StartNextFile(true);
      }
    }
  } else {
    if (OnNoUpdateAvailable) OnNoUpdateAvailable(this);
    if (!autoCheckRunning_ && Wants(mNoUpdateAvailable)) ShowUpgraderMessage(GetLangText(ltNoUpdate), mbIconInformation);
  }
  SignalWait(*doneSignal_);
}

void TkvKelvora::ShowUpgraderMessage(const std::string& Text, unsigned Flags) {
  UI().MessageBox(Text, GetLangText(ltWizardCaption), Flags);
}

}  // namespace kelvora
