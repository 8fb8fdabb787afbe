// The system language as a language id (primary language in the low 10 bits,
// sublanguage above them), taken from the POSIX locale, and the language of
// the table that such an id selects.
#pragma once

#include <cstdint>
#include <string_view>

#include "kelvora/kvLanguage.h"

namespace kelvora::detail {

inline constexpr std::uint16_t MakeLangId(std::uint16_t Primary, std::uint16_t Sub) {
  return static_cast<std::uint16_t>((Sub << 10) | Primary);
}
inline constexpr std::uint16_t PrimaryLangId(std::uint16_t LangId) { return LangId & 0x3FF; }
inline constexpr std::uint16_t SubLangId(std::uint16_t LangId) { return LangId >> 10; }

// Language id of a locale name "language[_territory][.codeset][@modifier]".
// "C" and "POSIX" (and an empty name) are US English, 0x0409. An unknown
// language gives 0 (neutral). The sublanguage is exact where the table
// depends on it (Portuguese: Brazil 1, Portugal 2; Chinese: Taiwan 1, China 2,
// Hong Kong 3, Singapore 4, Macao 5; 0 when the territory is missing or
// another); other known languages get 1, the default sublanguage.
std::uint16_t LangIdFromLocale(std::string_view Locale);

// The locale that decides the system language: the first non-empty of
// LC_ALL, LC_MESSAGES and LANG; on Windows the user's locale ("de-DE").
// Empty when none is set.
std::string SystemLocaleName();

// The language of the table for a language id: Portuguese and Chinese by
// sublanguage, the others by primary language, wlEnglish when none matches.
TkvKelvoraLanguage LanguageForLangId(std::uint16_t LangId);

}  // namespace kelvora::detail
