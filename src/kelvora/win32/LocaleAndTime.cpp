#include <windows.h>

#include "kelvora/LanguageDetect.h"
#include "kelvora/LanguageFormat.h"
#include "kelvora/SystemTime.h"
#include "updater/win32/Wide.h"

namespace kelvora::detail {

std::string UserDecimalSeparator() {
  // The user's own choice in the regional settings.
  wchar_t radix[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, radix, 8) <= 1) return ".";
  return updater::Utf8(radix);
}

std::string SystemLocaleName() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  return ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 1 ? updater::Utf8(name) : std::string();
}

bool LocalTime(std::time_t T, std::tm& Local) { return ::localtime_s(&Local, &T) == 0; }

std::time_t UtcSeconds(std::tm& Utc) { return ::_mkgmtime(&Utc); }

}  // namespace kelvora::detail
