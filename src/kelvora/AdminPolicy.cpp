// The administrator's policy: its values checked and merged, and the JSON
// form of the policy file.
#include "kelvora/AdminPolicy.h"

#include <nlohmann/json.hpp>

#include "kelvora/DeveloperLog.h"

namespace kelvora {

namespace {

// Longest interval an administrator may set: a year. Shorter than a minute
// would make every installation hammer the server.
constexpr int64_t kMinIntervalSeconds = 60;
constexpr int64_t kMaxIntervalSeconds = 366LL * 24 * 3600;
constexpr size_t kMaxTextLength = 2048;

std::string Describe(const TPolicyValue& Value) {
  if (const bool* b = std::get_if<bool>(&Value)) return *b ? "true" : "false";
  if (const int64_t* n = std::get_if<int64_t>(&Value)) return std::to_string(*n);
  const std::string& s = std::get<std::string>(Value);
  return "\"" + (s.size() > 80 ? s.substr(0, 80) + "..." : s) + "\"";
}

void Ignore(const std::string& Where, const std::string& Name, const TPolicyValue& Value, const char* Why) {
  DeveloperNote("administrator policy " + Where + ": " + Name + " = " + Describe(Value) + " is ignored: " + Why);
}

// A flag: true/false, or a registry DWORD 0 or 1.
std::optional<bool> AsFlag(const TPolicyValue& Value) {
  if (const bool* b = std::get_if<bool>(&Value)) return *b;
  if (const int64_t* n = std::get_if<int64_t>(&Value); n && (*n == 0 || *n == 1)) return *n == 1;
  return std::nullopt;
}

bool Printable(const std::string& S) {
  for (const unsigned char c : S)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool VersionText(const std::string& S) {
  for (const char c : S)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-'))
      return false;
  return true;
}

bool WebAddress(const std::string& S) {
  const auto starts = [&S](const char* P) { return S.rfind(P, 0) == 0 && S.size() > std::char_traits<char>::length(P); };
  return (starts("http://") || starts("https://")) && S.find_first_of(" \t\r\n") == std::string::npos;
}

template <typename T>
void SetOnce(std::optional<T>& Slot, T Value) {
  if (!Slot) Slot = std::move(Value);
}

}  // namespace

void TAdminPolicy::Take(const std::string& Name, const TPolicyValue& Value, const std::string& Where) {
  using namespace policy;
  std::optional<bool>* flag = Name == kUpdatesEnabled    ? &UpdatesEnabled
                              : Name == kAutomaticChecks ? &AutomaticChecks
                              : Name == kUserChecks      ? &UserChecks
                              : Name == kMaySkip         ? &MaySkip
                                                         : nullptr;
  if (flag != nullptr) {
    const std::optional<bool> f = AsFlag(Value);
    if (!f) return Ignore(Where, Name, Value, "not true/false (or 1/0)");
    return SetOnce(*flag, *f);
  }
  if (Name == kCheckInterval) {
    const int64_t* n = std::get_if<int64_t>(&Value);
    if (n == nullptr || *n < kMinIntervalSeconds || *n > kMaxIntervalSeconds)
      return Ignore(Where, Name, Value, "not a number of seconds from 60 to 31622400");
    return SetOnce(CheckIntervalSeconds, *n);
  }
  std::optional<std::string>* text = Name == kVersionPrefix ? &VersionPrefix
                                     : Name == kChannel     ? &Channel
                                     : Name == kInfoAddress ? &InfoAddress
                                                            : nullptr;
  if (text == nullptr) return Ignore(Where, Name, Value, "not a value the component knows");
  const std::string* s = std::get_if<std::string>(&Value);
  if (s == nullptr || s->empty() || s->size() > kMaxTextLength || !Printable(*s))
    return Ignore(Where, Name, Value, "not a text of one line");
  if (Name == kVersionPrefix && !VersionText(*s))
    return Ignore(Where, Name, Value, "a version prefix holds only letters, digits, '.' and '-'");
  if (Name == kInfoAddress && !WebAddress(*s)) return Ignore(Where, Name, Value, "not an http or https address");
  SetOnce(*text, *s);
}

bool TAdminPolicy::Empty() const {
  return !UpdatesEnabled && !AutomaticChecks && !UserChecks && !MaySkip && !VersionPrefix && !Channel &&
         !InfoAddress && !CheckIntervalSeconds;
}

bool TAdminPolicy::AllowsCheck(bool Automatic) const {
  if (UpdatesEnabled == false) return false;
  return Automatic ? AutomaticChecks != false : UserChecks != false;
}

bool TAdminPolicy::AllowsVersion(const std::string& Version) const {
  if (!VersionPrefix) return true;
  const std::string& p = *VersionPrefix;
  if (Version.rfind(p, 0) != 0) return false;
  // "2.4." already ends a part; "2.4" must be followed by the end or a dot.
  return Version.size() == p.size() || p.back() == '.' || Version[p.size()] == '.';
}

bool ParseAdminPolicyJson(const std::string& Text, const std::string& Where, TAdminPolicy& Policy) {
  const nlohmann::json root = nlohmann::json::parse(Text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) {
    DeveloperNote("administrator policy " + Where + " is not a JSON object and is ignored");
    return false;
  }
  for (const auto& [name, value] : root.items()) {
    if (value.is_boolean())
      Policy.Take(name, value.get<bool>(), Where);
    else if (value.is_number_integer())
      Policy.Take(name, value.get<int64_t>(), Where);
    else if (value.is_string())
      Policy.Take(name, value.get<std::string>(), Where);
    else
      DeveloperNote("administrator policy " + Where + ": " + name + " = " + value.dump().substr(0, 80) +
                    " is ignored: not a flag, a whole number or a text");
  }
  return true;
}

}  // namespace kelvora
