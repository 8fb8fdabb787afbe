// Test helpers: restore the process-wide language state and the locale
// variables a test changes.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "kelvora/kvLanguage.h"

namespace kelvora::test {

class ScopedLocaleEnv {
 public:
  ScopedLocaleEnv() {
    for (const char* name : kSaved) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
      unsetenv(name);
    }
  }
  ~ScopedLocaleEnv() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }
  ScopedLocaleEnv(const ScopedLocaleEnv&) = delete;
  ScopedLocaleEnv& operator=(const ScopedLocaleEnv&) = delete;

  // Only LANG set, as on a typical desktop.
  void Lang(const std::string& Locale) {
    Clear();
    setenv("LANG", Locale.c_str(), 1);
  }
  void Set(const char* Name, const std::string& Value) { setenv(Name, Value.c_str(), 1); }
  // Unsets the locale settings (LOCPATH, where locales are found, stays).
  void Clear() {
    for (const char* name : kLocaleNames) unsetenv(name);
  }

 private:
  static constexpr const char* kLocaleNames[] = {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG"};
  static constexpr const char* kSaved[] = {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG", "LOCPATH"};
  std::map<std::string, std::optional<std::string>> saved_;
};

// Keeps LanguageBaseId and the decimal separator as they were.
class ScopedLanguageState {
 public:
  ScopedLanguageState() : baseId_(LanguageBaseId()), separator_(DecimalSeparator()) {}
  ~ScopedLanguageState() {
    SetLanguageBaseId(baseId_);
    SetDecimalSeparator(separator_);
  }
  ScopedLanguageState(const ScopedLanguageState&) = delete;
  ScopedLanguageState& operator=(const ScopedLanguageState&) = delete;

 private:
  std::uint16_t baseId_;
  std::string separator_;
};

inline TkvKelvoraLanguage Lang(int Ordinal) { return static_cast<TkvKelvoraLanguage>(Ordinal); }

}  // namespace kelvora::test
