// What a machine's administrator decides about updates: read at each check
// from the system (linux/AdminPolicySource.cpp: a JSON file under /etc;
// win32/AdminPolicySource.cpp: the Policies key of HKLM, then of HKCU) and
// stronger than anything the host sets. A value that is absent leaves the
// host's setting; a malformed one is ignored and named in a developer note.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace kelvora {

// The value names, the same in the file and in the registry.
namespace policy {
inline constexpr const char* kUpdatesEnabled = "UpdatesEnabled";    // false: no check, no network request at all
inline constexpr const char* kAutomaticChecks = "AutomaticChecks";  // false: no check by itself
inline constexpr const char* kUserChecks = "UserChecks";            // false: no check a person starts
inline constexpr const char* kVersionPrefix = "VersionPrefix";      // "2.4": only releases 2.4 and 2.4.x
inline constexpr const char* kChannel = "Channel";
inline constexpr const char* kInfoAddress = "InfoAddress";          // replaces the host's info address
inline constexpr const char* kCheckInterval = "CheckInterval";      // seconds between automatic checks
inline constexpr const char* kMaySkip = "MaySkip";                  // false: an update found is not a question
}  // namespace policy

// One value as the system stores it: a flag, a number (a registry DWORD) or text.
using TPolicyValue = std::variant<bool, int64_t, std::string>;

struct TAdminPolicy {
  std::optional<bool> UpdatesEnabled;
  std::optional<bool> AutomaticChecks;
  std::optional<bool> UserChecks;
  std::optional<bool> MaySkip;
  std::optional<std::string> VersionPrefix;
  std::optional<std::string> Channel;
  std::optional<std::string> InfoAddress;
  std::optional<int64_t> CheckIntervalSeconds;

  // Takes Name's value unless one was set already (the stronger source is
  // read first). A value of the wrong kind or out of range is left out with
  // a developer note naming Where (the file or key) and the value.
  void Take(const std::string& Name, const TPolicyValue& Value, const std::string& Where);
  bool Empty() const;
  // Whether a check started by a person (or by itself) may go on.
  bool AllowsCheck(bool Automatic) const;
  // Whether the release Version stays within VersionPrefix: the prefix is
  // matched whole parts at a time, so "2.4" takes "2.4" and "2.4.7" but not "2.40".
  bool AllowsVersion(const std::string& Version) const;
};

// Reads the policy of the program (the registry's <Company>\<Product>, the
// file's <Product>.json) from the system.
TAdminPolicy ReadAdminPolicy(const std::string& Company, const std::string& Product);

// The folder of the policy files on Linux: /etc/kelvora, or the folder
// named by KELVORA_POLICY_DIR (for tests and for systems that keep /etc
// elsewhere).
std::string AdminPolicyFolder();

// A policy file's text read into Policy; Where names it in the notes. False
// when the whole text is not a JSON object (noted, nothing taken).
bool ParseAdminPolicyJson(const std::string& Text, const std::string& Where, TAdminPolicy& Policy);

}  // namespace kelvora
