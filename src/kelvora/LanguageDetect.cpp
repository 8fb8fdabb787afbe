#include "kelvora/LanguageDetect.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace kelvora::detail {

namespace {

constexpr std::uint16_t kPortuguese = 0x16;
constexpr std::uint16_t kChinese = 0x04;

// Primary language id of each language of the table, by ordinal (the entries
// of the two Portuguese and the two Chinese languages are decided by the
// sublanguage before this table is searched).
constexpr std::uint16_t kDetectionIds[kLanguageCount + 1] = {
    0,     // wlAuto
    0x09,  // English
    0x19,  // Russian
    0x07,  // German
    0x0C,  // French
    0x0A,  // Spanish
    0x16,  // Portuguese
    0x16,  // Portuguese (Brazil)
    0x10,  // Italian
    0x13,  // Dutch
    0x06,  // Danish
    0x1D,  // Swedish
    0x0B,  // Finnish
    0x25,  // Estonian
    0x22,  // Ukrainian
    0x15,  // Polish
    0x05,  // Czech
    0x0E,  // Hungarian
    0x18,  // Romanian
    0x03,  // Catalan
    0x2D,  // Basque
    0x36,  // Afrikaans
    0x04,  // Chinese (Traditional)
    0x04,  // Chinese (Simplified)
    0x21,  // Indonesian
    0x3E,  // Malay
    0x0F,  // Icelandic
    0x1F,  // Turkish
    0x14,  // Norwegian
    0x1B,  // Slovak
};

struct TLanguageCode {
  const char* Code;  // ISO 639 code as used in locale names
  std::uint16_t Primary;
};

// Primary language ids of the operating system the table was built for.
constexpr TLanguageCode kLanguageCodes[] = {
    {"af", 0x36},  {"am", 0x5E},  {"ar", 0x01},  {"as", 0x4D},  {"az", 0x2C},  {"ba", 0x6D},
    {"be", 0x23},  {"bg", 0x02},  {"bn", 0x45},  {"bo", 0x51},  {"br", 0x7E},  {"bs", 0x1A},
    {"ca", 0x03},  {"co", 0x83},  {"cs", 0x05},  {"cy", 0x52},  {"da", 0x06},  {"de", 0x07},
    {"dv", 0x65},  {"el", 0x08},  {"en", 0x09},  {"es", 0x0A},  {"et", 0x25},  {"eu", 0x2D},
    {"fa", 0x29},  {"fi", 0x0B},  {"fil", 0x64}, {"fo", 0x38},  {"fr", 0x0C},  {"fy", 0x62},
    {"ga", 0x3C},  {"gd", 0x91},  {"gl", 0x56},  {"gu", 0x47},  {"ha", 0x68},  {"he", 0x0D},
    {"hi", 0x39},  {"hr", 0x1A},  {"hsb", 0x2E}, {"hu", 0x0E},  {"hy", 0x2B},  {"id", 0x21},
    {"ig", 0x70},  {"is", 0x0F},  {"it", 0x10},  {"iu", 0x5D},  {"iw", 0x0D},  {"ja", 0x11},
    {"ka", 0x37},  {"kk", 0x3F},  {"kl", 0x6F},  {"km", 0x53},  {"kn", 0x4B},  {"ko", 0x12},
    {"kok", 0x57}, {"ky", 0x40},  {"lb", 0x6E},  {"lo", 0x54},  {"lt", 0x27},  {"lv", 0x26},
    {"mi", 0x81},  {"mk", 0x2F},  {"ml", 0x4C},  {"mn", 0x50},  {"mr", 0x4E},  {"ms", 0x3E},
    {"mt", 0x3A},  {"nb", 0x14},  {"ne", 0x61},  {"nl", 0x13},  {"nn", 0x14},  {"no", 0x14},
    {"oc", 0x82},  {"or", 0x48},  {"pa", 0x46},  {"pl", 0x15},  {"ps", 0x63},  {"pt", 0x16},
    {"rm", 0x17},  {"ro", 0x18},  {"ru", 0x19},  {"rw", 0x87},  {"sa", 0x4F},  {"se", 0x3B},
    {"si", 0x5B},  {"sk", 0x1B},  {"sl", 0x24},  {"sq", 0x1C},  {"sr", 0x1A},  {"sv", 0x1D},
    {"sw", 0x41},  {"ta", 0x49},  {"te", 0x4A},  {"tg", 0x28},  {"th", 0x1E},  {"tk", 0x42},
    {"tl", 0x64},  {"tn", 0x32},  {"tr", 0x1F},  {"tt", 0x44},  {"ug", 0x80},  {"uk", 0x22},
    {"ur", 0x20},  {"uz", 0x43},  {"vi", 0x2A},  {"wo", 0x88},  {"xh", 0x34},  {"yo", 0x6A},
    {"zh", 0x04},  {"zu", 0x35},
};

std::string Lower(std::string_view S) {
  std::string r(S);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::uint16_t PortugueseSub(const std::string& Territory) {
  if (Territory == "br") return 1;
  if (Territory == "pt") return 2;
  return 0;
}

std::uint16_t ChineseSub(const std::string& Territory) {
  if (Territory == "tw") return 1;
  if (Territory == "cn") return 2;
  if (Territory == "hk") return 3;
  if (Territory == "sg") return 4;
  if (Territory == "mo") return 5;
  return 0;
}

}  // namespace

std::uint16_t LangIdFromLocale(std::string_view Locale) {
  // Drop "@modifier" and ".codeset".
  Locale = Locale.substr(0, Locale.find('@'));
  Locale = Locale.substr(0, Locale.find('.'));
  if (Locale.empty() || Locale == "C" || Locale == "POSIX") return MakeLangId(0x09, 1);

  const std::size_t split = Locale.find_first_of("_-");
  const std::string language = Lower(Locale.substr(0, split));
  const std::string territory = split == std::string_view::npos ? std::string() : Lower(Locale.substr(split + 1));

  for (const TLanguageCode& code : kLanguageCodes) {
    if (language != code.Code) continue;
    if (code.Primary == kPortuguese) return MakeLangId(code.Primary, PortugueseSub(territory));
    if (code.Primary == kChinese) return MakeLangId(code.Primary, ChineseSub(territory));
    return MakeLangId(code.Primary, 1);
  }
  return 0;
}

TkvKelvoraLanguage LanguageForLangId(std::uint16_t LangId) {
  const std::uint16_t primary = PrimaryLangId(LangId);
  const std::uint16_t sub = SubLangId(LangId);
  if (primary == kPortuguese) return sub == 1 ? wlPortugueseBrazilian : wlPortuguese;
  if (primary == kChinese) return sub == 2 ? wlChineseSimplified : wlChineseTraditional;
  for (int ordinal = wlEnglish; ordinal <= wlSlovak; ++ordinal)
    if (kDetectionIds[ordinal] == primary) return static_cast<TkvKelvoraLanguage>(ordinal);
  return wlEnglish;
}

}  // namespace kelvora::detail
