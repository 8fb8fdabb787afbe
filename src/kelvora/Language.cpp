#include <atomic>

#include "kelvora/LanguageDetect.h"
#include "kelvora/LanguageTable.h"
#include "kelvora/Types.h"
#include "kelvora/kvLanguage.h"

namespace kelvora {

namespace {

// Atomic only so that a stray read from a worker is not a data race; the
// value is meant to be used on the UI thread.
std::atomic<std::uint16_t> gLanguageBaseId{0};

// The unit picks the system's language when the program starts, so texts
// shown before any component sets a language follow the system.
[[maybe_unused]] const bool gLanguageDetectedAtStart = (DetectLanguage(), true);

}  // namespace

std::uint16_t LanguageBaseId() { return gLanguageBaseId.load(std::memory_order_relaxed); }

void SetLanguageBaseId(std::uint16_t Value) { gLanguageBaseId.store(Value, std::memory_order_relaxed); }

std::string GetResourceText(std::uint16_t Id) {
  const std::string* text = detail::FindResourceText(Id);
  return text ? *text : std::string();
}

std::string GetLangText(int Slot) {
  // A slot outside the block would reach into a neighbouring block or the
  // fixed texts: it has no text.
  if (Slot < 0 || Slot >= kLangSlotCount) return {};
  const int id = LanguageBaseId() + Slot;
  return id > 0xFFFF ? std::string() : GetResourceText(static_cast<std::uint16_t>(id));
}

TkvKelvoraLanguage DetectLanguage() {
  const TkvKelvoraLanguage language =
      detail::LanguageForLangId(detail::LangIdFromLocale(detail::SystemLocaleName()));
  SetLanguageBaseId(LanguageBlockId(language));
  return language;
}

TkvKelvoraLanguage SelectLanguage(TkvKelvoraLanguage Language) {
  if (Language < wlAuto || Language > wlSlovak)
    throw EConvertError("Invalid language " + std::to_string(static_cast<int>(Language)));
  if (Language == wlAuto) return DetectLanguage();
  SetLanguageBaseId(LanguageBlockId(Language));
  return Language;
}

std::string FormatLangText(int Slot, std::initializer_list<TkvLangArg> Args) {
  return FormatText(GetLangText(Slot), Args);
}

}  // namespace kelvora
