#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cctype>
#include <string>
#include <vector>

#include "kelvora/LanguageTable.h"
#include "kelvora/Types.h"
#include "kelvora/kvLanguage.h"
#include "language/LanguageTestSupport.h"

using namespace kelvora;
using kelvora::test::Lang;

namespace {

std::string Text(int Language, int Slot) { return GetResourceText(LangTextId(Lang(Language), Slot)); }

std::string Where(int Language, int Slot) {
  return std::string(detail::kLanguageNames[Language]) + " " + detail::kLangSlotNames[Slot];
}

// The placeholders of a text in order, "%%" included.
// A placeholder is "%%" or "%", flags "-"/"0", a width, an optional
// ".precision" and a letter; a "%" followed by anything else is not one.
std::vector<std::string> Placeholders(const std::string& S) {
  std::vector<std::string> found;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] != '%') continue;
    size_t j = i + 1;
    if (j < S.size() && S[j] == '%') {
      found.push_back("%%");
      i = j;
      continue;
    }
    while (j < S.size() && (S[j] == '-' || S[j] == '0')) ++j;
    while (j < S.size() && std::isdigit(static_cast<unsigned char>(S[j]))) ++j;
    if (j < S.size() && S[j] == '.') {
      ++j;
      while (j < S.size() && std::isdigit(static_cast<unsigned char>(S[j]))) ++j;
    }
    if (j < S.size() && std::isalpha(static_cast<unsigned char>(S[j]))) {
      found.push_back(S.substr(i, j - i + 1));
      i = j;
    }
  }
  return found;
}

int Count(const std::string& S, char C) { return static_cast<int>(std::count(S.begin(), S.end(), C)); }

// The character after the single accelerator mark of a button text.
std::string Accelerator(const std::string& S) {
  const std::size_t amp = S.find('&');
  if (amp == std::string::npos || amp + 1 >= S.size()) return {};
  std::size_t end = amp + 2;
  while (end < S.size() && (static_cast<unsigned char>(S[end]) & 0xC0) == 0x80) ++end;
  std::string key = S.substr(amp + 1, end - amp - 1);
  if (key.size() == 1) key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
  return key;
}

}  // namespace

TEST(LanguageIds, BlocksSlotsAndFixedTexts) {
  EXPECT_EQ(LanguageBlockId(wlEnglish), 41000);
  EXPECT_EQ(LanguageBlockId(wlPortugueseBrazilian), 41300);
  EXPECT_EQ(LanguageBlockId(wlSlovak), 42400);
  EXPECT_EQ(LangTextId(wlFrench, ltPreparing), 41172);
  EXPECT_EQ(LangTextId(wlSlovak, ltUpgradeSetupRan), 42438);  // the highest id used

  EXPECT_EQ(GetResourceText(kAppTitleStandInTextId), "<AppTitle>");
  EXPECT_FALSE(GetResourceText(kDevEnvNameTextId).empty());
  EXPECT_EQ(GetResourceText(kProductNameTextId), "Kelvora");

  // Only the first kLangSlotCount ids of each block of 50 hold texts; nothing outside.
  int used = 0;
  for (int id = 0; id <= 0xFFFF; ++id) {
    const bool has = !GetResourceText(static_cast<std::uint16_t>(id)).empty();
    if (id >= 40997 && id <= 40999) continue;
    const bool inBlock = id >= 41000 && id < 42400 + kLangSlotCount && (id - 41000) % 50 < kLangSlotCount;
    EXPECT_EQ(has, inBlock) << "id " << id;
    used += has;
  }
  EXPECT_EQ(used, kLanguageCount * kLangSlotCount);
}

TEST(LanguageTable, EverySlotOfEveryLanguageIsPresentAndFormats) {
  for (int l = wlEnglish; l <= wlSlovak; ++l) {
    for (int s = 0; s < kLangSlotCount; ++s) {
      const std::string text = Text(l, s);
      EXPECT_FALSE(text.empty()) << Where(l, s);

      // Same placeholders, same order as English, so one argument list serves all.
      EXPECT_EQ(Placeholders(text), Placeholders(Text(wlEnglish, s))) << Where(l, s);

      // And the formatter accepts the text with such a list.
      std::vector<TkvLangArg> args;
      for (const std::string& p : Placeholders(Text(wlEnglish, s))) {
        if (p.back() == 'd') args.emplace_back(7);
        else if (p.back() == 'f') args.emplace_back(1.5);
        else if (p.back() == 's') args.emplace_back("X");
      }
      ASSERT_LE(args.size(), 3u);
      std::string formatted;
      switch (args.size()) {
        case 0: EXPECT_NO_THROW(formatted = FormatText(text, {})) << Where(l, s); break;
        case 1: EXPECT_NO_THROW(formatted = FormatText(text, {args[0]})) << Where(l, s); break;
        case 2: EXPECT_NO_THROW(formatted = FormatText(text, {args[0], args[1]})) << Where(l, s); break;
        case 3: EXPECT_NO_THROW(formatted = FormatText(text, {args[0], args[1], args[2]})) << Where(l, s); break;
      }
      EXPECT_EQ(formatted.find('%'), std::string::npos) << Where(l, s);
    }
  }
}

TEST(LanguageTable, LineBreaksFollowEnglishDanishUsesCarriageReturns) {
  for (int l = wlEnglish; l <= wlSlovak; ++l) {
    for (int s = 0; s < kLangSlotCount; ++s) {
      const std::string text = Text(l, s);
      const int breaks = Count(Text(wlEnglish, s), '\n');
      if (l == wlDanish) {
        EXPECT_EQ(Count(text, '\n'), 0) << Where(l, s);
        EXPECT_EQ(Count(text, '\r'), breaks) << Where(l, s);
      } else {
        EXPECT_EQ(Count(text, '\r'), 0) << Where(l, s);
        EXPECT_EQ(Count(text, '\n'), breaks) << Where(l, s);
      }
    }
  }
  EXPECT_EQ(Text(wlDanish, ltAbortQuestion), "Opdateringen er ikke fuldført.\rVil du afbryde opdateringen?");
}

TEST(LanguageTable, ButtonsHaveOneAcceleratorDistinctWithinEachWindow) {
  for (int l = wlEnglish; l <= wlSlovak; ++l) {
    for (int s = ltYes; s <= ltLater; ++s) {
      const std::string text = Text(l, s);
      EXPECT_EQ(Count(text, '&'), 1) << Where(l, s);
      EXPECT_FALSE(Accelerator(text).empty()) << Where(l, s);
      EXPECT_NE(Accelerator(text), " ") << Where(l, s);
    }
    // Buttons shown together: Yes and Later; OK and Cancel; Next and Cancel.
    EXPECT_NE(Accelerator(Text(l, ltYes)), Accelerator(Text(l, ltLater))) << detail::kLanguageNames[l];
    EXPECT_NE(Accelerator(Text(l, ltOK)), Accelerator(Text(l, ltCancel))) << detail::kLanguageNames[l];
    EXPECT_NE(Accelerator(Text(l, ltNext)), Accelerator(Text(l, ltCancel))) << detail::kLanguageNames[l];
  }
}

TEST(LanguageTable, TextsDecodeExactly) {
  EXPECT_EQ(Text(wlEnglish, ltCompletedNote),
            "The update of %s has been successfully completed.\n\nPress the OK button to restart program.");
  EXPECT_EQ(Text(wlEnglish, ltPasswordRequest),
            "Access to remote file \"%s\" is password protected.\n\nPlease enter your username and password "
            "(received after registration) to continue software upgrade.");
  EXPECT_EQ(Text(wlEnglish, ltNoInfoFile),
            "File which contains upgrade information was not found on developer's site.");
  EXPECT_EQ(Text(wlFrench, ltPreparing), "Préparation. . .");
  EXPECT_EQ(Text(wlChineseSimplified, ltWizardCaption), "软件升级精灵");
  EXPECT_EQ(Text(wlChineseTraditional, ltWizardCaption), "軟體升級精靈");
  EXPECT_EQ(Text(wlTurkish, ltWizardCaption), "Gücelleme Sihirbazı");
}

TEST(LanguageData, MalformedDataIsRefusedWithTheFileName) {
  auto load = [](const std::string& Json) {
    detail::TTextTable table;
    detail::LoadLanguageData("xx.json", Json, table);
    return table;
  };
  auto refuses = [&](const std::string& Json, const std::string& What) {
    try {
      load(Json);
      ADD_FAILURE() << "accepted: " << Json;
    } catch (const EConvertError& e) {
      EXPECT_NE(std::string(e.what()).find("xx.json"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(What), std::string::npos) << e.what();
    }
  };

  const auto table = load(R"({"language": "wlGerman", "texts": {"ltNext": "&Weiter >"}})");
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table.at(41118), "&Weiter >");
  EXPECT_EQ(load(R"({"ids": {"40999": "K"}})").at(40999), "K");

  refuses(R"({"language": "wlGerman", "texts": {"ltNxt": "x"}})", "ltNxt");  // a misspelt slot
  refuses(R"({"language": "wlKlingon", "texts": {}})", "wlKlingon");
  refuses(R"({"language": "wlAuto", "texts": {}})", "wlAuto");             // has no block
  refuses(R"({"language": "wlGerman", "texts": {"ltNext": 5}})", "not a string");
  refuses(R"({"language": "wlGerman"})", "texts");
  refuses(R"({"ids": {"70000": "x"}})", "70000");
  refuses(R"({"ids": {"12a": "x"}})", "12a");
  refuses(R"({"language": "wlGerman", "texts": {}, "ids": {}})", "either");
  refuses(R"({"language": "wlGerman", "texts": {}, "extra": 1})", "unexpected");
  refuses(R"([1, 2])", "object");
  refuses(R"({"ids": {"1": "x",)", "parse");

  // The same id from two files.
  detail::TTextTable table2;
  detail::LoadLanguageData("a.json", R"({"ids": {"40999": "K"}})", table2);
  EXPECT_THROW(detail::LoadLanguageData("b.json", R"({"ids": {"40999": "L"}})", table2), EConvertError);
}
