#include "kelvora/LanguageFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <mutex>
#include <optional>
#include <vector>

#include "kelvora/Types.h"

namespace kelvora {

namespace detail {

namespace {

// Widths and precisions beyond this are refused rather than allocated.
constexpr int kMaxFieldSize = 4096;

struct TPlaceholder {
  bool LeftAlign = false;
  bool ZeroPad = false;
  int Width = 0;
  int Precision = -1;  // -1: none given
};

[[noreturn]] void Invalid(std::string_view Format) {
  throw EConvertError("Format '" + std::string(Format) + "' invalid or incompatible with argument");
}

// Reads a run of digits at Pos; -1 when there is none.
int ReadNumber(std::string_view Format, std::size_t& Pos) {
  if (Pos >= Format.size() || !std::isdigit(static_cast<unsigned char>(Format[Pos]))) return -1;
  int value = 0;
  while (Pos < Format.size() && std::isdigit(static_cast<unsigned char>(Format[Pos]))) {
    value = value * 10 + (Format[Pos++] - '0');
    if (value > kMaxFieldSize) Invalid(Format);
  }
  return value;
}

// Number of characters of a UTF-8 text (continuation bytes do not count).
std::size_t CharCount(std::string_view S) {
  std::size_t n = 0;
  for (unsigned char c : S)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// The first Count characters of a UTF-8 text.
std::string_view FirstChars(std::string_view S, std::size_t Count) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < S.size(); ++i) {
    if ((static_cast<unsigned char>(S[i]) & 0xC0) != 0x80 && chars++ == Count) return S.substr(0, i);
  }
  return S;
}

// Pads Field to the width of Place; zero padding goes after a sign.
std::string Pad(std::string Field, const TPlaceholder& Place, bool Numeric) {
  const std::size_t length = CharCount(Field);
  if (Place.Width <= 0 || length >= static_cast<std::size_t>(Place.Width)) return Field;
  const std::size_t fill = Place.Width - length;
  if (Place.LeftAlign) return Field + std::string(fill, ' ');
  if (Place.ZeroPad && Numeric) {
    const std::size_t sign = (!Field.empty() && (Field[0] == '-' || Field[0] == '+')) ? 1 : 0;
    return Field.insert(sign, fill, '0');
  }
  return std::string(fill, ' ') + Field;
}

std::string FormatInteger(long long Value, const TPlaceholder& Place) {
  // Magnitude as unsigned, so that the smallest value has one too.
  const unsigned long long magnitude =
      Value < 0 ? 0ULL - static_cast<unsigned long long>(Value) : static_cast<unsigned long long>(Value);
  std::string digits = std::to_string(magnitude);
  if (Place.Precision > 0 && digits.size() < static_cast<std::size_t>(Place.Precision))
    digits.insert(0, Place.Precision - digits.size(), '0');
  return Value < 0 ? "-" + digits : digits;
}

std::string FormatFloat(double Value, const TPlaceholder& Place, std::string_view DecimalSeparator) {
  const int precision = Place.Precision < 0 ? 6 : Place.Precision;
  // Room for the 309 integer digits of the largest double, sign and point.
  std::vector<char> buffer(330 + precision);
  const auto [end, ec] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), Value, std::chars_format::fixed, precision);
  std::string text(buffer.data(), ec == std::errc() ? end : buffer.data());
  const std::size_t point = text.find('.');
  if (point != std::string::npos) text.replace(point, 1, DecimalSeparator);
  return text;
}

}  // namespace

std::string FormatWith(std::string_view Format, std::span<const TkvLangArg> Args,
                       std::string_view DecimalSeparator) {
  std::string out;
  out.reserve(Format.size() + 32);
  std::size_t next = 0;  // next argument
  std::size_t i = 0;
  while (i < Format.size()) {
    const std::size_t percent = Format.find('%', i);
    out.append(Format.substr(i, percent - i));
    if (percent == std::string_view::npos) break;
    i = percent + 1;
    if (i < Format.size() && Format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }

    TPlaceholder place;
    for (; i < Format.size() && (Format[i] == '-' || Format[i] == '0'); ++i)
      (Format[i] == '-' ? place.LeftAlign : place.ZeroPad) = true;
    place.Width = ReadNumber(Format, i);
    if (i < Format.size() && Format[i] == '.') {
      ++i;
      place.Precision = std::max(ReadNumber(Format, i), 0);
    }
    if (i >= Format.size() || next >= Args.size()) Invalid(Format);
    const char conversion = static_cast<char>(std::tolower(static_cast<unsigned char>(Format[i++])));
    const auto& value = Args[next++].Value();

    switch (conversion) {
      case 'd':
        if (!std::holds_alternative<long long>(value)) Invalid(Format);
        out += Pad(FormatInteger(std::get<long long>(value), place), place, true);
        break;
      case 'f': {
        double number = 0;
        if (const auto* d = std::get_if<double>(&value))
          number = *d;
        else if (const auto* n = std::get_if<long long>(&value))
          number = static_cast<double>(*n);
        else
          Invalid(Format);
        out += Pad(FormatFloat(number, place, DecimalSeparator), place, true);
        break;
      }
      case 's': {
        if (!std::holds_alternative<std::string>(value)) Invalid(Format);
        std::string_view text = std::get<std::string>(value);
        if (place.Precision >= 0) text = FirstChars(text, place.Precision);
        out += Pad(std::string(text), place, false);
        break;
      }
      default:
        Invalid(Format);
    }
  }
  return out;
}

}  // namespace detail

namespace {

std::mutex gSeparatorLock;
std::optional<std::string> gDecimalSeparator;  // read from the locale at first use

}  // namespace

std::string DecimalSeparator() {
  std::lock_guard lock(gSeparatorLock);
  if (!gDecimalSeparator) gDecimalSeparator = detail::UserDecimalSeparator();
  return *gDecimalSeparator;
}

void SetDecimalSeparator(const std::string& Value) {
  std::lock_guard lock(gSeparatorLock);
  gDecimalSeparator = Value;
}

std::string FormatText(std::string_view Format, std::initializer_list<TkvLangArg> Args) {
  return detail::FormatWith(Format, std::span<const TkvLangArg>(Args.begin(), Args.size()), DecimalSeparator());
}

}  // namespace kelvora
