#include <gtest/gtest.h>

#include "kelvora/LanguageDetect.h"
#include "kelvora/LanguageTable.h"
#include "kelvora/Types.h"
#include "kelvora/kvLanguage.h"
#include "language/LanguageTestSupport.h"

using namespace kelvora;
using kelvora::detail::LangIdFromLocale;
using kelvora::test::ScopedLanguageState;
using kelvora::test::ScopedLocaleEnv;

TEST(LocaleLangId, LocaleNamesGivePrimaryAndSubLanguage) {
  EXPECT_EQ(LangIdFromLocale("pt_BR"), 0x0416);
  EXPECT_EQ(LangIdFromLocale("pt_PT.UTF-8"), 0x0816);
  EXPECT_EQ(LangIdFromLocale("zh_CN"), 0x0804);
  EXPECT_EQ(LangIdFromLocale("zh_TW.UTF-8"), 0x0404);
  EXPECT_EQ(LangIdFromLocale("zh_SG"), 0x1004);
  EXPECT_EQ(detail::PrimaryLangId(LangIdFromLocale("ja_JP")), 0x11);
  EXPECT_EQ(detail::PrimaryLangId(LangIdFromLocale("de_AT.ISO-8859-15@euro")), 0x07);
  EXPECT_EQ(detail::PrimaryLangId(LangIdFromLocale("ca_ES.UTF-8@valencia")), 0x03);
  EXPECT_EQ(detail::PrimaryLangId(LangIdFromLocale("FR_ca")), 0x0C);  // case does not matter
  EXPECT_EQ(LangIdFromLocale("C"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("C.UTF-8"), 0x0409);
  EXPECT_EQ(LangIdFromLocale("POSIX"), 0x0409);
  EXPECT_EQ(LangIdFromLocale(""), 0x0409);
  EXPECT_EQ(LangIdFromLocale("xx_YY"), 0);
  EXPECT_EQ(LangIdFromLocale("_@."), 0);
}

TEST(DetectLanguage, EachLanguageFromItsLocale) {
  ScopedLocaleEnv env;
  ScopedLanguageState state;
  const struct {
    const char* Locale;
    TkvKelvoraLanguage Language;
  } cases[] = {
      {"en_GB.UTF-8", wlEnglish},        {"ru_RU.UTF-8", wlRussian},    {"de_DE.UTF-8", wlGerman},
      {"fr_FR.UTF-8", wlFrench},         {"es_ES.UTF-8", wlSpanish},    {"pt_PT.UTF-8", wlPortuguese},
      {"pt_BR.UTF-8", wlPortugueseBrazilian}, {"it_IT.UTF-8", wlItalian}, {"nl_NL.UTF-8", wlDutch},
      {"da_DK.UTF-8", wlDanish},         {"sv_SE.UTF-8", wlSwedish},    {"fi_FI.UTF-8", wlFinnish},
      {"et_EE.UTF-8", wlEstonian},       {"uk_UA.UTF-8", wlUkrainian},  {"pl_PL.UTF-8", wlPolish},
      {"cs_CZ.UTF-8", wlCzech},          {"hu_HU.UTF-8", wlHungarian},  {"ro_RO.UTF-8", wlRomanian},
      {"ca_ES.UTF-8", wlCatalan},        {"eu_ES.UTF-8", wlBasque},     {"af_ZA.UTF-8", wlAfrikaans},
      {"zh_TW.UTF-8", wlChineseTraditional}, {"zh_CN.UTF-8", wlChineseSimplified},
      {"id_ID.UTF-8", wlIndonesian},     {"ms_MY.UTF-8", wlMalay},      {"is_IS.UTF-8", wlIcelandic},
      {"tr_TR.UTF-8", wlTurkish},        {"nb_NO.UTF-8", wlNorwegian},  {"sk_SK.UTF-8", wlSlovak},
      // Sublanguages and fallbacks.
      {"pt", wlPortuguese},              {"pt_AO", wlPortuguese},       {"zh_HK.UTF-8", wlChineseTraditional},
      {"zh_SG.UTF-8", wlChineseTraditional}, {"zh", wlChineseTraditional}, {"nn_NO", wlNorwegian},
      {"ja_JP.UTF-8", wlEnglish},        {"xx_YY", wlEnglish},          {"C", wlEnglish},
      {"POSIX", wlEnglish},              {"C.UTF-8", wlEnglish},
  };
  for (const auto& c : cases) {
    env.Lang(c.Locale);
    SetLanguageBaseId(0);
    EXPECT_EQ(DetectLanguage(), c.Language) << c.Locale;
    EXPECT_EQ(LanguageBaseId(), 41000 + 50 * (c.Language - 1)) << c.Locale;
  }

  env.Clear();  // nothing set at all
  EXPECT_EQ(DetectLanguage(), wlEnglish);
  EXPECT_EQ(LanguageBaseId(), 41000);
}

TEST(DetectLanguage, LcAllThenLcMessagesThenLang) {
  ScopedLocaleEnv env;
  ScopedLanguageState state;
  env.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(DetectLanguage(), wlGerman);
  env.Set("LC_MESSAGES", "fr_FR.UTF-8");
  EXPECT_EQ(DetectLanguage(), wlFrench);
  env.Set("LC_ALL", "pt_BR.UTF-8");
  EXPECT_EQ(DetectLanguage(), wlPortugueseBrazilian);
  EXPECT_EQ(LanguageBaseId(), 41300);
  env.Set("LC_ALL", "");  // empty counts as unset
  EXPECT_EQ(DetectLanguage(), wlFrench);
  env.Set("LC_NUMERIC", "ru_RU.UTF-8");  // not a messages setting
  EXPECT_EQ(DetectLanguage(), wlFrench);
}

TEST(SelectLanguage, FixedLanguagesAndAutoRoundTrip) {
  ScopedLocaleEnv env;
  ScopedLanguageState state;
  env.Lang("de_DE.UTF-8");

  EXPECT_EQ(SelectLanguage(wlGerman), wlGerman);
  EXPECT_EQ(LanguageBaseId(), 41100);
  EXPECT_EQ(GetLangText(ltWizardCaption), "Upgrade Anwendungsassistent");
  EXPECT_EQ(SelectLanguage(wlAuto), wlGerman);  // German-speaking system: the same block
  EXPECT_EQ(LanguageBaseId(), 41100);

  EXPECT_EQ(SelectLanguage(wlSlovak), wlSlovak);
  EXPECT_EQ(LanguageBaseId(), 42400);
  EXPECT_EQ(GetLangText(ltConnLost), GetResourceText(42430));
  EXPECT_EQ(GetLangText(ltWizardCaption), "Sprievodca aktualizáciou programu");

  env.Lang("fr_FR.UTF-8");  // wlAuto detects afresh each time
  EXPECT_EQ(SelectLanguage(wlAuto), wlFrench);
  EXPECT_EQ(GetLangText(ltPreparing), "Préparation. . .");

  SelectLanguage(wlEnglish);
  EXPECT_THROW(SelectLanguage(static_cast<TkvKelvoraLanguage>(30)), EConvertError);
  EXPECT_THROW(SelectLanguage(static_cast<TkvKelvoraLanguage>(-1)), EConvertError);
  EXPECT_EQ(LanguageBaseId(), 41000);  // left as it was
}

TEST(LanguageBase, ChosenAtStartAndTextsFollowIt) {
  // The unit chose a language when the program started.
  const int base = LanguageBaseId();
  EXPECT_GE(base, 41000);
  EXPECT_LE(base, 42400);
  EXPECT_EQ((base - 41000) % 50, 0);

  ScopedLanguageState state;
  SetLanguageBaseId(0);  // no language: no texts
  EXPECT_EQ(GetLangText(ltWizardCaption), "");
  SetLanguageBaseId(41000);
  EXPECT_EQ(GetLangText(ltWizardCaption), "Application update wizard");
  // Slots outside the table reach no other block and no fixed text.
  EXPECT_EQ(GetLangText(kLangSlotCount), "");
  EXPECT_EQ(GetLangText(-1), "");
  SetLanguageBaseId(41050);
  EXPECT_EQ(GetLangText(-20), "");
}
