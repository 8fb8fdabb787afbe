// The administrator's policy values: the stronger source wins, versions
// are pinned part by part, and nothing out of range is taken.
#include <gtest/gtest.h>

#include "kelvora/AdminPolicy.h"
#include "kelvora/DeveloperLog.h"

using namespace kelvora;

TEST(AdminPolicy, TakesTheStrongerSourceAndOnlySoundValues) {
  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });
  TAdminPolicy p;
  EXPECT_TRUE(p.Empty());
  EXPECT_TRUE(p.AllowsCheck(true) && p.AllowsCheck(false) && p.AllowsVersion("9.9"));
  // Machine first, then the user's: the machine's value stays.
  p.Take("VersionPrefix", std::string("2.4"), "HKLM");
  p.Take("VersionPrefix", std::string("3"), "HKCU");
  p.Take("CheckInterval", int64_t{59}, "HKLM");
  p.Take("CheckInterval", int64_t{3600}, "HKCU");
  p.Take("UserChecks", int64_t{2}, "HKLM");
  p.Take("AutomaticChecks", false, "HKLM");
  p.Take("Channel", std::string("be\nta"), "HKLM");
  EXPECT_EQ(p.VersionPrefix, "2.4");
  EXPECT_EQ(p.CheckIntervalSeconds, 3600) << "too short an interval is left out, the weaker one applies";
  EXPECT_FALSE(p.UserChecks.has_value());
  EXPECT_FALSE(p.Channel.has_value());
  EXPECT_EQ(notes.size(), 3u);
  EXPECT_FALSE(p.AllowsCheck(true));
  EXPECT_TRUE(p.AllowsCheck(false));
  for (const char* v : {"2.4", "2.4.0", "2.4.17-rc1"}) EXPECT_TRUE(p.AllowsVersion(v)) << v;
  for (const char* v : {"2.40", "2.41.0", "2", "3.4", ""}) EXPECT_FALSE(p.AllowsVersion(v)) << v;
  p.UpdatesEnabled = false;
  EXPECT_FALSE(p.AllowsCheck(false));
  SetDeveloperLog(nullptr);
}
