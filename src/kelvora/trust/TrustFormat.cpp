#include "kelvora/trust/TrustFormat.h"

#include <ctime>

#include "kelvora/SystemTime.h"

namespace kelvora::trust {

namespace {

bool IsDigits(std::string_view S) {
  if (S.empty()) return false;
  for (char c : S)
    if (c < '0' || c > '9') return false;
  return true;
}

int Number(std::string_view S) {
  int n = 0;
  for (char c : S) n = n * 10 + (c - '0');
  return n;
}

char Lower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool StartsWithNoCase(std::string_view S, std::string_view Prefix) {
  if (S.size() < Prefix.size()) return false;
  for (size_t i = 0; i < Prefix.size(); ++i)
    if (Lower(S[i]) != Lower(Prefix[i])) return false;
  return true;
}

}  // namespace

std::optional<TSignedText> SplitSignature(std::string_view Text) {
  std::string_view body = Text;
  if (body.ends_with("\r\n"))
    body.remove_suffix(2);
  else if (body.ends_with('\n'))
    body.remove_suffix(1);
  const size_t lineStart = body.rfind('\n') == std::string_view::npos ? 0 : body.rfind('\n') + 1;
  const std::string_view line = body.substr(lineStart);
  if (!StartsWithNoCase(line, kSignatureKey)) return std::nullopt;
  return TSignedText{Text.substr(0, lineStart), line.substr(kSignatureKey.size())};
}

std::optional<TFileHash> ParseHashValue(std::string_view Value) {
  constexpr std::string_view kPrefix = "sha256:";
  if (!Value.starts_with(kPrefix)) return std::nullopt;
  Value.remove_prefix(kPrefix.size());
  const size_t blank = Value.find(' ');
  if (blank != 64) return std::nullopt;
  TFileHash out;
  for (char c : Value.substr(0, 64)) {
    const char l = Lower(c);
    if (!((l >= '0' && l <= '9') || (l >= 'a' && l <= 'f'))) return std::nullopt;
    out.Sha256 += l;
  }
  const std::string_view size = Value.substr(65);
  if (!IsDigits(size) || size.size() > 18) return std::nullopt;
  for (char c : size) out.Size = out.Size * 10 + (c - '0');
  return out;
}

std::string FormatHashValue(const TFileHash& Hash) {
  return "sha256:" + Hash.Sha256 + " " + std::to_string(Hash.Size);
}

std::optional<int64_t> ParseExpires(std::string_view Value) {
  // YYYY-MM-DD, optionally followed by THH:MM:SSZ.
  if (Value.size() != 10 && Value.size() != 20) return std::nullopt;
  auto field = [&](size_t At, size_t Len) { return Value.substr(At, Len); };
  if (!IsDigits(field(0, 4)) || Value[4] != '-' || !IsDigits(field(5, 2)) || Value[7] != '-' ||
      !IsDigits(field(8, 2)))
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = Number(field(0, 4)) - 1900;
  tm.tm_mon = Number(field(5, 2)) - 1;
  tm.tm_mday = Number(field(8, 2));
  bool wholeDay = true;
  if (Value.size() == 20) {
    if (Value[10] != 'T' || !IsDigits(field(11, 2)) || Value[13] != ':' || !IsDigits(field(14, 2)) ||
        Value[16] != ':' || !IsDigits(field(17, 2)) || Value[19] != 'Z')
      return std::nullopt;
    tm.tm_hour = Number(field(11, 2));
    tm.tm_min = Number(field(14, 2));
    tm.tm_sec = Number(field(17, 2));
    wholeDay = false;
  }
  if (tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59) return std::nullopt;
  const std::tm asked = tm;
  const time_t t = detail::UtcSeconds(tm);
  // The conversion normalises 02-30 into March: such a date does not exist.
  if (tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon) return std::nullopt;
  return static_cast<int64_t>(t) + (wholeDay ? 86400 : 0);
}

}  // namespace kelvora::trust
