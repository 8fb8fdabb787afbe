#include "kelvora/ReleaseVersion.h"

#include <algorithm>
#include <string_view>

namespace kelvora {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigits(std::string_view S) { return !S.empty() && std::all_of(S.begin(), S.end(), IsDigit); }

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && S.front() == ' ') S.remove_prefix(1);
  while (!S.empty() && S.back() == ' ') S.remove_suffix(1);
  return S;
}

std::string WithoutLeadingZeros(std::string_view Digits) {
  const size_t first = Digits.find_first_not_of('0');
  return first == std::string_view::npos ? "0" : std::string(Digits.substr(first));
}

// Decimal numbers of any length, without leading zeros.
int CompareNumbers(const std::string& A, const std::string& B) {
  if (A.size() != B.size()) return A.size() < B.size() ? -1 : 1;
  return A == B ? 0 : (A < B ? -1 : 1);
}

int ComparePreRelease(const std::vector<std::string>& A, const std::vector<std::string>& B) {
  // A release (no identifiers) orders above its pre-releases.
  if (A.empty() != B.empty()) return A.empty() ? 1 : -1;
  for (size_t i = 0; i < A.size() && i < B.size(); ++i) {
    const bool na = IsDigits(A[i]), nb = IsDigits(B[i]);
    int c = 0;
    if (na && nb)
      c = CompareNumbers(WithoutLeadingZeros(A[i]), WithoutLeadingZeros(B[i]));
    else if (na != nb)
      c = na ? -1 : 1;
    else
      c = A[i].compare(B[i]) < 0 ? -1 : (A[i] == B[i] ? 0 : 1);
    if (c != 0) return c;
  }
  return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

}  // namespace

std::optional<TReleaseVersion> ParseReleaseVersion(const std::string& Text) {
  std::string_view s = TrimBlanks(Text);
  if (const size_t plus = s.find('+'); plus != std::string_view::npos) {
    // Build data: identifiers as in a pre-release, and nothing is compared.
    const std::string_view build = s.substr(plus + 1);
    if (build.empty() || build.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-.") !=
                             std::string_view::npos)
      return std::nullopt;
    s = s.substr(0, plus);
  }
  TReleaseVersion v;
  size_t at = 0;
  for (;;) {
    const size_t start = at;
    while (at < s.size() && IsDigit(s[at])) ++at;
    if (at == start) return std::nullopt;
    v.Numbers.push_back(WithoutLeadingZeros(s.substr(start, at - start)));
    if (at < s.size() && s[at] == '.' && at + 1 < s.size() && IsDigit(s[at + 1])) {
      ++at;
      continue;
    }
    break;
  }
  if (at == s.size()) return v;
  if (s[at] == '-')
    ++at;
  else if (!IsLetter(s[at]))
    return std::nullopt;
  std::string_view pre = s.substr(at);
  for (;;) {
    const size_t dot = pre.find('.');
    const std::string_view id = pre.substr(0, dot);
    if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) { return IsDigit(c) || IsLetter(c) || c == '-'; }))
      return std::nullopt;
    v.PreRelease.emplace_back(id);
    if (dot == std::string_view::npos) break;
    pre.remove_prefix(dot + 1);
  }
  return v;
}

int CompareReleaseVersions(const TReleaseVersion& A, const TReleaseVersion& B) {
  for (size_t i = 0; i < 4; ++i) {
    const std::string a = i < A.Numbers.size() ? A.Numbers[i] : "0";
    const std::string b = i < B.Numbers.size() ? B.Numbers[i] : "0";
    if (const int c = CompareNumbers(a, b); c != 0) return c;
  }
  return ComparePreRelease(A.PreRelease, B.PreRelease);
}

std::string ReleaseVersionProblem(const std::string& Text) {
  if (ParseReleaseVersion(Text)) return {};
  return "malformed #version: \"" + Text.substr(0, 100) +
         "\" is not a version (numbers separated by dots, such as 2.1.0, optionally followed by a pre-release "
         "such as -beta.2)";
}

}  // namespace kelvora
