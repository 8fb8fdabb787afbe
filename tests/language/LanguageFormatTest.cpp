#include <gtest/gtest.h>

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kelvora/LanguageFormat.h"
#include "kelvora/Types.h"
#include "kelvora/kvLanguage.h"
#include "language/LanguageTestSupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define KV_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_TEST_ASAN 1
#endif
#endif
#ifdef KV_TEST_ASAN
#include <sanitizer/lsan_interface.h>
#endif

using namespace kelvora;
using kelvora::test::ScopedLanguageState;
using kelvora::test::ScopedLocaleEnv;

TEST(FormatLangText, UsesTheDecimalSeparatorAndTheCurrentLanguage) {
  ScopedLanguageState state;
  SetDecimalSeparator(",");
  SelectLanguage(wlGerman);
  EXPECT_EQ(FormatLangText(ltFileSize, {1536 / 1024.0}), "Dateigröße: 1,5 KB");
  EXPECT_EQ(FormatLangText(ltTransferRate, {12.34}), "Übertragungsrate: 12,3 KB/s");
  EXPECT_EQ(FormatLangText(ltTimeLeft, {1, 5, 7}), "Geschätzte Restzeit: 1:05:07");

  SetDecimalSeparator(".");
  SelectLanguage(wlEnglish);
  EXPECT_EQ(FormatLangText(ltFileSize, {1023.96}), "File size: 1024.0 Kb");  // rounding carries
  EXPECT_EQ(FormatLangText(ltTimeLeft, {0, 0, 9}), "Estimated time left: 0:00:09");
  EXPECT_EQ(FormatLangText(ltDownloadingCount, {2, 3}), "Downloading 2 of 3");
  EXPECT_EQ(FormatLangText(ltAskUpgrade, {"Demo", "Fixes"}),
            "A newer version of Demo was released.\nFixes\nDo you want to update your version with the latest one?");
  EXPECT_EQ(FormatLangText(ltHostUnreachable, {std::string("http://example.org")}).substr(0, 29),
            "Host http://example.org unrea");
  // Arguments are inserted as they are, even when they hold a percent sign.
  EXPECT_EQ(FormatLangText(ltLostFile, {"100%25.zip"}).substr(0, 21), "File 100%25.zip not f");

  SetDecimalSeparator("\u066B");  // a separator of more than one byte
  EXPECT_EQ(FormatLangText(ltTransferRate, {2.25f}), "Transfer rate: 2\u066B2 Kb/s");
}

TEST(FormatText, PlaceholderRules) {
  auto f = [](std::string_view Format, std::initializer_list<TkvLangArg> Args) {
    return detail::FormatWith(Format, std::span<const TkvLangArg>(Args.begin(), Args.size()), ",");
  };
  EXPECT_EQ(f("%.2d|%.2d|%.2d|%d", {5, 123, -5, 0}), "05|123|-05|0");
  EXPECT_EQ(f("[%5d][%-5d][%05d]", {7, 7, -7}), "[    7][7    ][-0007]");
  EXPECT_EQ(f("%.1f %f %.0f %.1f", {-1.26, 0.5, 2.5, 3}), "-1,3 0,500000 2 3,0");
  EXPECT_EQ(f("%06.1f", {-1.26}), "-001,3");
  EXPECT_EQ(f("%d", {-9223372036854775807LL - 1}), "-9223372036854775808");
  EXPECT_EQ(f("%.1f", {1e300}).size(), 303u);  // 301 digits, separator, one decimal
  EXPECT_EQ(f("100%% %s", {"done"}), "100% done");
  // Widths and precisions of texts count characters, not bytes.
  EXPECT_EQ(f("[%.2s][%4s][%-3s]", {"äöü", "äö", "ß"}), "[äö][  äö][ß  ]");
  EXPECT_EQ(f("%S %D", {"x", 1}), "x 1");
  EXPECT_EQ(f("%d", {1, 2, 3}), "1");  // surplus arguments are ignored
  EXPECT_EQ(f("no placeholders", {}), "no placeholders");
}

TEST(FormatText, MalformedFormatsAndWrongArgumentsRaise) {
  auto f = [](std::string_view Format, std::initializer_list<TkvLangArg> Args) {
    return detail::FormatWith(Format, std::span<const TkvLangArg>(Args.begin(), Args.size()), ".");
  };
  EXPECT_THROW(f("%d of %d", {1}), EConvertError);    // missing argument
  EXPECT_THROW(f("%d", {"1"}), EConvertError);        // text for a number
  EXPECT_THROW(f("%d", {1.0}), EConvertError);        // no silent truncation
  EXPECT_THROW(f("%s", {1}), EConvertError);
  EXPECT_THROW(f("%f", {"1.5"}), EConvertError);
  EXPECT_THROW(f("%x", {1}), EConvertError);          // unknown conversion
  EXPECT_THROW(f("50%", {}), EConvertError);          // lone percent at the end
  EXPECT_THROW(f("%.", {1}), EConvertError);
  EXPECT_THROW(f("%99999999999d", {1}), EConvertError);  // absurd width
  try {
    f("Rate %d", {"x"});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Format 'Rate %d' invalid or incompatible with argument");
  }
}

namespace {

// glibc's newlocale leaks its copy of LOCPATH; keep that out of the leak report.
struct ScopedLeakCheckOff {
#ifdef KV_TEST_ASAN
  ScopedLeakCheckOff() { __lsan_disable(); }
  ~ScopedLeakCheckOff() { __lsan_enable(); }
#endif
};

bool LocaleAvailable(const std::string& Name) {
  const locale_t l = newlocale(LC_NUMERIC_MASK, Name.c_str(), static_cast<locale_t>(nullptr));
  if (l) freelocale(l);
  return l != nullptr;
}

// A German locale: the installed one, or one compiled with localedef into a
// temporary folder that LOCPATH then points to. Empty when neither works.
std::string GermanLocale(ScopedLocaleEnv& Env, std::string& Folder) {
  if (LocaleAvailable("de_DE.UTF-8")) return "de_DE.UTF-8";
  char pattern[] = "/tmp/kv-locale-XXXXXX";
  if (!mkdtemp(pattern)) return {};
  Folder = pattern;
  const std::string command =
      "localedef -i de_DE -f UTF-8 '" + Folder + "/de_DE.UTF-8' >/dev/null 2>&1";
  [[maybe_unused]] const int rc = std::system(command.c_str());  // warnings give 1; the result decides
  Env.Set("LOCPATH", Folder);
  return LocaleAvailable("de_DE.UTF-8") ? "de_DE.UTF-8" : std::string();
}

}  // namespace

TEST(DecimalSeparator, ComesFromTheUserLocale) {
  ScopedLocaleEnv env;
  env.Lang("C");
  EXPECT_EQ(detail::UserDecimalSeparator(), ".");
  env.Lang("no_SUCH.locale");  // not installed: the plain point
  EXPECT_EQ(detail::UserDecimalSeparator(), ".");

  [[maybe_unused]] ScopedLeakCheckOff leakCheckOff;
  std::string folder;
  const std::string german = GermanLocale(env, folder);
  if (!german.empty()) {
    env.Lang(german);
    EXPECT_EQ(detail::UserDecimalSeparator(), ",");
    env.Set("LC_NUMERIC", "C");  // LC_NUMERIC comes before LANG
    EXPECT_EQ(detail::UserDecimalSeparator(), ".");
    env.Set("LC_ALL", german);  // and LC_ALL before both
    EXPECT_EQ(detail::UserDecimalSeparator(), ",");
  }
  if (!folder.empty()) std::filesystem::remove_all(folder);
  if (german.empty()) GTEST_SKIP() << "no German locale installed, and localedef could not make one";
}
