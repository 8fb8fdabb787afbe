// Time-zone offsets and HTTP dates.
#include <cmath>
#include <ctime>

#include "kelvora/kvUtils.h"
#include "utils/DateUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

using utils::StrToIntDef;
using utils::StrToIntOpt;
using utils::TrimLeft;

TDateTime ParseGmtOffset(const std::string& S) {
  const std::string t = utils::Trim(S).substr(0, 5);
  if (t.empty() || (t[0] != '+' && t[0] != '-')) return 0;
  const std::string_view v(t);
  auto hours = StrToIntOpt(v.substr(1, 2));
  auto mins = StrToIntOpt(v.size() > 3 ? v.substr(3, 2) : std::string_view());
  if (!hours || !mins) return 0;
  TDateTime offset = 0;
  if (!utils::TryEncodeTime(*hours, *mins, 0, 0, offset)) return 0;
  return t[0] == '-' ? -offset : offset;
}

namespace {

// Steps 2 to 10 of ParseInternetDate. Returns false on an error (the
// caller's date-time becomes 0); Rest holds the unread text either way.
bool ParseDatePart(std::string& Rest, TDateTime& Result) {
  // 2. A leading day name goes, with any comma.
  if (DayNameIndex(Rest.substr(0, 3)) > 0) {
    CutToken(Rest, " ", true);
    Rest = TrimLeft(Rest);
  }
  // 3. The date part is delimited by "-" when one comes at position 2 or
  // later and before the first space (or there is no space), else by spaces.
  std::string delim = " ";
  const size_t dash = utils::Pos("-", Rest);
  const size_t space = utils::Pos(" ", Rest);
  if (dash >= 2 && (space == 0 || dash < space)) delim.assign(1, '-');
  // 4. Month first or day first.
  int day = 1, month = 0;
  auto readDay = [&] {
    day = StrToIntDef(CutToken(Rest, delim, true), 1);
    Rest = TrimLeft(Rest);
  };
  auto readMonth = [&] {
    month = MonthNameIndex(CutToken(Rest, delim, true));
    Rest = TrimLeft(Rest);
  };
  std::string peek = Rest;
  if (MonthNameIndex(CutToken(peek, delim, false)) > 0) {
    readMonth();
    readDay();
  } else {
    readDay();
    readMonth();
  }
  // 5. The year, or the time followed by the year (asctime form).
  const std::string yearToken = CutToken(Rest, " ", true);
  int year = StrToIntDef(yearToken, 1900);
  if (year == 1900) {
    year = StrToIntDef(Rest, 1900);
    Rest = yearToken;
  }
  // 6. Two-digit years.
  if (year < 80)
    year += 2000;
  else if (year <= 99)
    year += 1900;
  // 7. The date.
  if (!utils::TryEncodeDate(year, month, day, Result)) return false;
  // 8. The time of day.
  if (Rest.find(':') != std::string::npos) {
    std::string time = CutToken(Rest, " ", true);
    const int h = StrToIntDef(CutToken(time, ":", true), 0);
    const int m = StrToIntDef(CutToken(time, ":", true), 0);
    const int s = StrToIntDef(CutToken(time, ":", true), 0);
    TDateTime t = 0;
    if (!utils::TryEncodeTime(h, m, s, 0, t)) return false;
    Result += t;
  }
  // 9.
  Rest = TrimLeft(Rest);
  return true;
}

}  // namespace

TDateTime ParseInternetDate(const std::string& S) {
  std::string rest = utils::Trim(S);
  if (rest.empty()) return 0;
  TDateTime result = 0;
  if (!ParseDatePart(rest, result)) result = 0;  // 10.
  // 11. A numeric zone offset; zone names are shorter and count as 0.
  if (rest.size() >= 5) result -= ParseGmtOffset(rest);
  return UtcToLocal(result);
}

}  // namespace kelvora
