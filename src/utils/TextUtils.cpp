#include "utils/TextUtils.h"

#include <limits>

namespace kelvora::utils {

namespace {
inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
}  // namespace

std::string Trim(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && IsBlank(S[b])) ++b;
  while (e > b && IsBlank(S[e - 1])) --e;
  return std::string(S.substr(b, e - b));
}

std::string TrimLeft(std::string_view S) {
  size_t b = 0;
  while (b < S.size() && IsBlank(S[b])) ++b;
  return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
  size_t e = S.size();
  while (e > 0 && IsBlank(S[e - 1])) --e;
  return std::string(S.substr(0, e));
}

char LowerChar(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

std::string LowerCase(std::string_view S) {
  std::string r(S);
  for (auto& c : r) c = LowerChar(c);
  return r;
}

std::string UpperCase(std::string_view S) {
  std::string r(S);
  for (auto& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::optional<int32_t> StrToIntOpt(std::string_view S) {
  size_t i = 0;
  while (i < S.size() && (S[i] == ' ' || S[i] == '\t')) ++i;
  bool neg = false;
  if (i < S.size() && (S[i] == '+' || S[i] == '-')) {
    neg = S[i] == '-';
    ++i;
  }
  if (i >= S.size()) return std::nullopt;
  int64_t v = 0;
  for (; i < S.size(); ++i) {
    char c = S[i];
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
    if (v > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
  }
  if (neg) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(v);
}

size_t Pos(std::string_view Sub, std::string_view S) {
  if (Sub.empty()) return 0;
  size_t p = S.find(Sub);
  return p == std::string_view::npos ? 0 : p + 1;
}

}  // namespace kelvora::utils
