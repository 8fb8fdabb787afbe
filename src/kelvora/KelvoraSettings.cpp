#include "kelvora/DeveloperLog.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/Properties.h"
#include "kelvora/kvKelvora.h"
#include "updater/Transaction.h"

namespace kelvora {

namespace {
const std::vector<std::string> kMethodNames = {"umSelfUpgrade", "umUseExternalSetup", "umRedirectToURL"};
std::vector<std::string> LanguageNames() {
  static const char* names[] = {"wlAuto", "wlEnglish", "wlRussian", "wlGerman", "wlFrench", "wlSpanish",
                                "wlPortuguese", "wlPortugueseBrazilian", "wlItalian", "wlDutch", "wlDanish",
                                "wlSwedish", "wlFinnish", "wlEstonian", "wlUkrainian", "wlPolish", "wlCzech",
                                "wlHungarian", "wlRomanian", "wlCatalan", "wlBasque", "wlAfrikaans",
                                "wlChineseTraditional", "wlChineseSimplified", "wlIndonesian", "wlMalay",
                                "wlIcelandic", "wlTurkish", "wlNorwegian", "wlSlovak"};
  return {std::begin(names), std::end(names)};
}
}  // namespace

void TkvKelvoraInfo::DefineProperties(TPropertyList& L) {
  L.Strings("Files", files_);
  L.Enum("UpgradeMethod", kMethodNames, [this] { return static_cast<int>(upgradeMethod_); },
         [this](int v) { upgradeMethod_ = static_cast<TztUpgradeMethod>(v); }, umSelfUpgrade);
  L.String("UpgradeMsg", [this] { return upgradeMsg_; }, [this](const std::string& v) { upgradeMsg_ = v; },
           std::string());
}

void TkvKelvoraInfo::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TkvKelvoraInfo*>(Source)) {
    files_.Assign(&s->files_);
    upgradeMethod_ = s->upgradeMethod_;
    upgradeMsg_ = s->upgradeMsg_;
    return;
  }
  TPersistent::Assign(Source);
}

void TkvKelvora::SetConfirmTimeout(int64_t Value) {
  // The updater reads the time from the queue it is handed: a value out of
  // range would not be a wait it can keep.
  if (Value < 0) {
    DeveloperNote("ConfirmTimeout " + std::to_string(Value) + " is refused (0 turns the confirmation off, " +
                  "1 to " + std::to_string(updater::kMaxConfirmSeconds) + " are seconds); it stays " +
                  std::to_string(d_->confirmTimeout_));
    return;
  }
  if (Value > updater::kMaxConfirmSeconds) {
    DeveloperNote("ConfirmTimeout " + std::to_string(Value) + " is more than the longest wait, " +
                  std::to_string(updater::kMaxConfirmSeconds) + " s; " + std::to_string(updater::kMaxConfirmSeconds) +
                  " s are used");
    Value = updater::kMaxConfirmSeconds;
  }
  d_->confirmTimeout_ = static_cast<int32_t>(Value);
}

void TkvKelvoraWizard::SetLanguage(TkvKelvoraLanguage Value) {
  if (Value == language_) return;
  SelectLanguage(Value);  // raises for a value outside the enumeration, changing nothing
  language_ = Value;
}

void TkvKelvoraWizard::DefineProperties(TPropertyList& L) {
  L.Boolean("Enabled", [this] { return enabled_; }, [this](bool v) { enabled_ = v; }, true);
  L.Boolean("HideFileLocation", [this] { return hideFileLocation_; }, [this](bool v) { hideFileLocation_ = v; },
            false);
  L.String("Pic118x218", [this] { return picture_; }, [this](const std::string& v) { picture_ = v; },
           std::string());
  L.Enum("Language", LanguageNames(), [this] { return static_cast<int>(language_); },
         [this](int v) { SetLanguage(static_cast<TkvKelvoraLanguage>(v)); }, wlAuto);
  L.Boolean("StayOnTop", [this] { return stayOnTop_; }, [this](bool v) { stayOnTop_ = v; }, true);
}

void TkvKelvoraWizard::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TkvKelvoraWizard*>(Source)) {
    enabled_ = s->enabled_;
    hideFileLocation_ = s->hideFileLocation_;
    picture_ = s->picture_;
    SetLanguage(s->language_);
    stayOnTop_ = s->stayOnTop_;
    return;
  }
  TPersistent::Assign(Source);
}

}  // namespace kelvora
