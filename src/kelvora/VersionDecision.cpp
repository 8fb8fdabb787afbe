#include "kelvora/VersionDecision.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseVersion.h"
#include "kelvora/SystemTime.h"
#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

std::string FormatEngineDate(TDateTime Date) {
  utils::TDateTimeParts p{};
  if (!utils::TryDecodeDateTime(Date, p)) return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.Month, p.Day, p.Year);
  return buf;
}

bool ParseEngineDate(const std::string& Text, TDateTime& Date) {
  const size_t a = Text.find('/');
  if (a == std::string::npos) return false;
  const size_t b = Text.find('/', a + 1);
  if (b == std::string::npos) return false;
  auto month = utils::StrToIntOpt(std::string_view(Text).substr(0, a));
  auto day = utils::StrToIntOpt(std::string_view(Text).substr(a + 1, b - a - 1));
  auto year = utils::StrToIntOpt(std::string_view(Text).substr(b + 1));
  if (!month || !day || !year) return false;
  return utils::TryEncodeDate(*year, *month, *day, Date);
}

TDateTime TodayDate() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  detail::LocalTime(now, local);
  TDateTime d = 0;
  utils::TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, d);
  return d;
}

namespace {
TDateTime DateOr(const std::string& Text, TDateTime Today) {
  TDateTime d = 0;
  return ParseEngineDate(Text, d) ? std::floor(d) : Today;
}
}  // namespace

bool IsNewerByDate(const TReleaseInfo& Release, const std::string& VersionDate, TDateTime Today) {
  return DateOr(VersionDate, Today) < DateOr(Release.Date, Today);
}

bool IsNewerByDate(const TReleaseInfo& Release, const std::string& VersionDate) {
  return IsNewerByDate(Release, VersionDate, TodayDate());
}

bool IsNewerByNumber(const TReleaseInfo& Release, const std::string& VersionNumber) {
  if (Release.Version.empty()) return false;
  const std::optional<TReleaseVersion> release = ParseReleaseVersion(Release.Version);
  if (!release) return false;
  if (const std::optional<TReleaseVersion> running = ParseReleaseVersion(VersionNumber))
    return CompareReleaseVersions(*release, *running) > 0;
  return CompareVersions(Release.Version, VersionNumber) > 0;
}

bool IsNewerByDate(const std::string& Text, const std::string& VersionDate) {
  return IsNewerByDate(ParseReleaseInfo(Text), VersionDate);
}

bool IsNewerByNumber(const std::string& Text, const std::string& VersionNumber) {
  return IsNewerByNumber(ParseReleaseInfo(Text), VersionNumber);
}

}  // namespace kelvora
