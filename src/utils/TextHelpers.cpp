// Token and search helpers, day and month names, URL file names
// and percentages.
#include <cmath>

#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

using utils::Pos;

std::string CutToken(std::string& S, const std::string& Delimiter, bool Remove) {
  const size_t p = Pos(Delimiter, S);
  if (p == 0) {
    std::string token = S;
    if (Remove) S.clear();
    return token;
  }
  std::string token = S.substr(0, p - 1);
  if (Remove) S.erase(0, p - 1 + Delimiter.size());
  return token;
}

bool SplitAtDelimiter(const std::string& Delimiter, const std::string& S, std::string& Left, std::string& Right,
                      bool NotFoundToRight, int Flags) {
  const std::string src = S;  // S may be Left or Right itself
  const size_t p = Pos(Delimiter, src);
  if (p == 0) {
    if (NotFoundToRight) {
      Left.clear();
      Right = src;
    } else {
      Left = src;
      Right.clear();
    }
    return false;
  }
  Left = src.substr(0, p - 1);
  Right = src.substr(p - 1 + Delimiter.size());
  if (Flags & sadDelimiterToLeft) Left += Delimiter;
  if (Flags & sadDelimiterToRight) Right.insert(0, Delimiter);
  return true;
}

int LastPosOf(const std::string& SubStr, const std::string& S) {
  if (SubStr.empty() || S.empty()) return 0;
  const size_t p = S.rfind(SubStr);
  return p == std::string::npos ? 0 : static_cast<int>(p + 1);
}

std::string StripLeadingChar(const std::string& S, char Ch) {
  size_t i = 0;
  while (i < S.size() && S[i] == Ch) ++i;
  return S.substr(i);
}

std::string StripLeadingBackslashes(const std::string& S) { return StripLeadingChar(S, '\\'); }

int IndexOfText(const std::string& S, const std::vector<std::string>& List) {
  for (size_t i = 0; i < List.size(); ++i)
    if (List[i] == S) return static_cast<int>(i);
  return -1;
}

int DayNameIndex(const std::string& S) {
  static const std::vector<std::string> kDays = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  return IndexOfText(utils::UpperCase(S), kDays) + 1;
}

int MonthNameIndex(const std::string& S) {
  static const std::vector<std::string> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  return IndexOfText(utils::UpperCase(S), kMonths) + 1;
}

std::string UrlToFileName(const std::string& URL) {
  // The system turns every "/" into a backslash and keeps the text after the
  // last backslash or colon; here "/" is the separator, and a backslash or a
  // colon ends the folder part as well.
  const size_t p = URL.find_last_of("/\\:");
  return p == std::string::npos ? URL : URL.substr(p + 1);
}

std::uint8_t PercentOf(long double Total, long double Part) {
  if (Total == 0) return 0;
  const long double v = Part * 100.0L / Total;
  if (!std::isfinite(v)) return 0;
  // Round to the nearest integer, halves to the even neighbour; a value
  // beyond a 64-bit integer is an error of the computation.
  if (v >= 9.2e18L || v <= -9.2e18L) return 0;
  long double fl = std::floor(v);
  const long double diff = v - fl;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(fl, 2.0L) != 0)) fl += 1;
  const auto whole = static_cast<int64_t>(fl);
  return static_cast<std::uint8_t>(static_cast<uint64_t>(whole) & 0xFF);
}

}  // namespace kelvora
