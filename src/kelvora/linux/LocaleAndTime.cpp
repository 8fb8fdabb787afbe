#include <langinfo.h>
#include <locale.h>

#include <cstdlib>

#include "kelvora/LanguageDetect.h"
#include "kelvora/LanguageFormat.h"
#include "kelvora/SystemTime.h"

namespace kelvora::detail {

std::string UserDecimalSeparator() {
  // An empty name takes LC_ALL, else LC_NUMERIC, else LANG.
  const locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!locale) return ".";
  const char* radix = nl_langinfo_l(RADIXCHAR, locale);
  std::string separator = radix && *radix ? radix : ".";
  freelocale(locale);
  return separator;
}

std::string SystemLocaleName() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return {};
}

bool LocalTime(std::time_t T, std::tm& Local) { return ::localtime_r(&T, &Local) != nullptr; }

std::time_t UtcSeconds(std::tm& Utc) { return ::timegm(&Utc); }

}  // namespace kelvora::detail
