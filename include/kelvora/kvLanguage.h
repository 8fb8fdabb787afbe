// The language table: every text the component shows, in 29 languages.
//
// Texts are addressed by 16-bit ids. Each language owns a block of 31 ids
// (slots 0 to 30) starting at 41000 + 50 x (ordinal - 1); three ids below the
// blocks hold texts that do not depend on the language. LanguageBaseId, one
// value for the whole process, is the id of slot 0 of the language in force.
#pragma once

#include "kelvora/kelvora_export.h"

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "kelvora/Types.h"

namespace kelvora {

enum TkvKelvoraLanguage {
  wlAuto,
  wlEnglish,
  wlRussian,
  wlGerman,
  wlFrench,
  wlSpanish,
  wlPortuguese,
  wlPortugueseBrazilian,
  wlItalian,
  wlDutch,
  wlDanish,
  wlSwedish,
  wlFinnish,
  wlEstonian,
  wlUkrainian,
  wlPolish,
  wlCzech,
  wlHungarian,
  wlRomanian,
  wlCatalan,
  wlBasque,
  wlAfrikaans,
  wlChineseTraditional,
  wlChineseSimplified,
  wlIndonesian,
  wlMalay,
  wlIcelandic,
  wlTurkish,
  wlNorwegian,
  wlSlovak
};

inline constexpr int kLanguageCount = 29;  // wlEnglish .. wlSlovak

// The slots of a language block. Placeholders are the same in every language.
enum TkvLangSlot {
  ltWizardCaption,     // also the caption of the engine's message boxes
  ltDownloadingTitle,
  ltCompletedTitle,
  ltCurrentFile,
  ltAllFiles,
  ltDownloadingFrom,
  ltFileSize,          // %.1f  size in Kb
  ltTransferRate,      // %.1f  Kb/s
  ltTimeLeft,          // %d:%.2d:%.2d  hours, minutes, seconds
  ltDownloadingCount,  // %d of %d
  ltCompletedNote,     // %s  application title
  ltPasswordCaption,
  ltUserName,
  ltPassword,
  ltYes,
  ltNo,
  ltOK,
  ltCancel,
  ltNext,
  ltLater,
  ltWarning,
  ltError,
  ltPreparing,
  ltAskUpgrade,        // %s application title, %s message of the info file
  ltNoUpdate,
  ltNoInfoFile,
  ltHostUnreachable,   // %s  "http://" and the host name
  ltAbortQuestion,
  ltLostFile,          // %s  file name
  ltPasswordRequest,   // %s  file name
  ltConnLost,
  ltCannotWrite,       // %s  the folder or file that cannot be written
  ltUpdaterFailed,
  ltUpgradeBusy,
  ltUpgradeCompleted,
  ltVerificationFailed,
  ltUpgradeFailed,     // %s the file that failed (or the program), %s the cause
  ltUpgradeMixed,      // likewise, when a file of the new version could not be put back
  ltUpgradeSetupRan,   // likewise, when the files are back but a setup program ran
  ltDiskFull,          // %s  what could not be written for lack of room
  ltNotAllowedToWrite, // %s  what the user may not write
  ltCannotUpgradeHere, // %s application title, %s the folder the user may not change
  ltPackageManaged,    // %s application title, %s the package that owns the program
  ltManagedByOrganisation, // an administrator's policy decides what a check may do
  ltCriticalUpdate,    // %s application title
  ltBelowMinimum       // %s application title, %s the oldest supported version
};

inline constexpr int kLangSlotCount = 46;
inline constexpr std::uint16_t kFirstLangTextId = 41000;
inline constexpr std::uint16_t kLangBlockStride = 50;

// Language-independent texts.
inline constexpr std::uint16_t kAppTitleStandInTextId = 40997;  // "<AppTitle>"
inline constexpr std::uint16_t kDevEnvNameTextId = 40998;       // name of the development environment
inline constexpr std::uint16_t kProductNameTextId = 40999;      // "Kelvora"

// Id of slot 0 of a language (wlEnglish .. wlSlovak).
constexpr std::uint16_t LanguageBlockId(TkvKelvoraLanguage Language) {
  return static_cast<std::uint16_t>(kFirstLangTextId + kLangBlockStride * (Language - 1));
}
// Id of a slot of a language.
constexpr std::uint16_t LangTextId(TkvKelvoraLanguage Language, int Slot) {
  return static_cast<std::uint16_t>(LanguageBlockId(Language) + Slot);
}

// The process-wide id of slot 0 of the current language; 0 until a language
// has been chosen. The unit chooses one from the system when the program
// starts. Read and written on the UI thread.
KELVORA_EXPORT std::uint16_t LanguageBaseId();
KELVORA_EXPORT void SetLanguageBaseId(std::uint16_t Value);

// The text of a string id; empty when the id has no text.
KELVORA_EXPORT std::string GetResourceText(std::uint16_t Id);

// The text of a slot of the current language (id LanguageBaseId + Slot);
// empty when that id has no text or the slot is outside 0..30.
KELVORA_EXPORT std::string GetLangText(int Slot);

// Chooses the language from the system's locale (LC_ALL, else LC_MESSAGES,
// else LANG), sets LanguageBaseId and returns the language chosen. Languages
// without a block of their own give wlEnglish.
KELVORA_EXPORT TkvKelvoraLanguage DetectLanguage();

// What the Wizard.Language setter does once the value has changed: wlAuto
// runs DetectLanguage, any other language sets LanguageBaseId to its block.
// Returns the language in force. Raises EConvertError for a value outside the
// enumeration, leaving LanguageBaseId as it was.
KELVORA_EXPORT TkvKelvoraLanguage SelectLanguage(TkvKelvoraLanguage Language);

// One argument of FormatLangText: a whole number, a floating value or a text.
class KELVORA_EXPORT TkvLangArg {
 public:
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  TkvLangArg(T Value) : value_(static_cast<long long>(Value)) {}
  template <std::floating_point T>
  TkvLangArg(T Value) : value_(static_cast<double>(Value)) {}
  TkvLangArg(const char* Value) : value_(std::string(Value ? Value : "")) {}
  TkvLangArg(std::string Value) : value_(std::move(Value)) {}
  TkvLangArg(std::string_view Value) : value_(std::string(Value)) {}

  const std::variant<long long, double, std::string>& Value() const { return value_; }

 private:
  std::variant<long long, double, std::string> value_;
};

// Formats a text with printf-like placeholders: %s (text), %d (whole number),
// %f (floating value, 6 decimals unless a precision is given; the decimal
// separator is DecimalSeparator()), each with optional "-" (left align) and
// "0" (zero fill) flags, width and ".precision", and %% for a percent sign.
// Widths and text precisions count characters, not bytes. Raises EConvertError when a placeholder is
// malformed or its argument is missing or of another kind; surplus arguments
// are ignored.
KELVORA_EXPORT std::string FormatText(std::string_view Format, std::initializer_list<TkvLangArg> Args);

// GetLangText(Slot) formatted with Args, e.g. FormatLangText(ltFileSize, {Size / 1024.0}).
KELVORA_EXPORT std::string FormatLangText(int Slot, std::initializer_list<TkvLangArg> Args);

// The decimal separator used by FormatText: by default the user's (LC_ALL,
// else LC_NUMERIC, else LANG), or "." when that locale is not available.
KELVORA_EXPORT std::string DecimalSeparator();
KELVORA_EXPORT void SetDecimalSeparator(const std::string& Value);

}  // namespace kelvora
