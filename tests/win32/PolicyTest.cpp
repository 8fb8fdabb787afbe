// The administrator's policy in Wine's registry: the machine's key over the
// user's, malformed values named, and a refused check that asks no server.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvora/AdminPolicy.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Updater.h"
#include "kelvora/kvKelvora.h"

using namespace kelvora;

namespace {

const wchar_t* const kCompanyKey = L"SOFTWARE\\Policies\\Kelvora Tests";
const wchar_t* const kUpdateKey = L"SOFTWARE\\Policies\\Kelvora Tests\\kvpolicy\\Update";

void SetValue(HKEY Root, const wchar_t* Name, DWORD Value) {
  ASSERT_EQ(RegSetKeyValueW(Root, kUpdateKey, Name, REG_DWORD, &Value, sizeof Value), ERROR_SUCCESS);
}

void SetValue(HKEY Root, const wchar_t* Name, const std::wstring& Value) {
  ASSERT_EQ(RegSetKeyValueW(Root, kUpdateKey, Name, REG_SZ, Value.c_str(),
                            static_cast<DWORD>((Value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

}  // namespace

TEST(Win32Policy, TheMachinesKeyOverTheUsersAndARefusedCheckAsksNoServer) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCompanyKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, kCompanyKey);
  SetValue(HKEY_LOCAL_MACHINE, L"VersionPrefix", L"2.4");
  SetValue(HKEY_LOCAL_MACHINE, L"CheckInterval", L"daily");
  SetValue(HKEY_CURRENT_USER, L"VersionPrefix", L"3");
  SetValue(HKEY_CURRENT_USER, L"AutomaticChecks", 0);
  SetValue(HKEY_CURRENT_USER, L"CheckInterval", 7200);
  SetValue(HKEY_CURRENT_USER, L"Channel", L"beta");
  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });

  const TAdminPolicy p = ReadAdminPolicy("Kelvora Tests", "kvpolicy");
  EXPECT_EQ(p.VersionPrefix, "2.4");
  EXPECT_EQ(p.AutomaticChecks, false);
  EXPECT_EQ(p.CheckIntervalSeconds, 7200) << "the machine's malformed value leaves the user's";
  EXPECT_EQ(p.Channel, "beta");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("HKLM"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("CheckInterval"), std::string::npos) << notes[0];

  // Updates off by the machine: a check of either kind ends refused, not
  // with the connection problem a request to the closed port would give.
  SetValue(HKEY_LOCAL_MACHINE, L"UpdatesEnabled", 0);
  Updater updater({.infoAddress = "http://127.0.0.1:1/info.txt", .version = "1.0", .messages = Messages::None,
                   .userCheckMessages = Messages::None, .company = "Kelvora Tests", .product = "kvpolicy"});
  std::vector<Result> results;
  updater.onFinished([&](const Result& R) { results.push_back(R); });
  updater.checkNow();
  updater.checkQuietly();
  ASSERT_EQ(results.size(), 2u);
  for (const Result& r : results) {
    EXPECT_EQ(r.outcome, Outcome::RefusedByPolicy);
    EXPECT_NE(r.reason.find("updates off"), std::string::npos) << r.reason;
  }
  EXPECT_EQ(updater.component().PolicyChannel(), "beta");
  SetDeveloperLog(nullptr);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kCompanyKey);
  RegDeleteTreeW(HKEY_CURRENT_USER, kCompanyKey);
}
