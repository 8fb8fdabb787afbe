// The info file parsed once: repeated keys, odd spelling, the signature
// line, and texts no real file looks like.
#include <gtest/gtest.h>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/ScriptedUpgradeUI.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/InfoTrust.h"

using namespace kelvora;

TEST(ReleaseInfo, ReadsEachKeyOnceWhateverTheTextLooksLike) {
  const std::string hash = "sha256:" + std::string(64, 'a') + " 12";
  const std::string patch = "sha256:" + std::string(64, 'b') + " sha256:" + std::string(64, 'c') + " 5 http://h/p";
  {
    SCOPED_TRACE("a key given twice: the first wins, for every kind");
    const TReleaseInfo r = ParseReleaseInfo("#version=1.0\n#VERSION=2.0\n#url1=http://h/a\n#url1=http://h/b\n#hash1=" +
                                            hash + "\n#hash1=junk\n#patch1.1=" + patch + "\n#patch1.1=junk\n");
    EXPECT_EQ(r.Version, "1.0");
    ASSERT_EQ(r.Files.size(), 1u);
    EXPECT_EQ(r.Files[0].Entry, "http://h/a");
    ASSERT_TRUE(r.Files[0].Hash);
    EXPECT_EQ(r.Files[0].Hash->Size, 12);
    EXPECT_FALSE(r.UnreadFileKey) << "a repeated key of a listed number is not a file left out";
    ASSERT_NE(r.PatchesOf("1"), nullptr);
    EXPECT_EQ(r.PatchesOf("1")->Offers.size(), 1u);
  }
  {
    SCOPED_TRACE("case, blanks and control characters");
    const TReleaseInfo r = ParseReleaseInfo(
        "#Date= 10/15/2005\t#version =9\n#MeThOd=2x\n#URL=http://h/A=%current%/A\n#url2=x\n#Hash=" + hash + "\r\n");
    EXPECT_EQ(r.Date, " 10/15/2005") << "a blank after the equals sign is part of the value";
    EXPECT_EQ(r.Version, "") << "a blank before the equals sign makes no key";
    EXPECT_EQ(r.Method, 2);
    ASSERT_EQ(r.Files.size(), 2u);
    EXPECT_EQ(r.Files[0].Entry, "http://h/A=%current%/A") << "the value keeps its case";
    EXPECT_EQ(r.Files[1].Suffix, "2");
    EXPECT_TRUE(r.Files[0].Hash);
    EXPECT_FALSE(r.Files[1].Hash);
    EXPECT_EQ(ParseReleaseInfo("#url=a\n#url1=b\n").UnreadFileKey, "1") << "numbering goes on at 2";
    EXPECT_EQ(ParseReleaseInfo("#url1=a\n#url01=b\n").UnreadFileKey, "01");
  }
  {
    SCOPED_TRACE("the signature line is no key, and the keys before it are all that is read");
    const std::string body = "#version=3.0\n#message={never closed\n";
    const TReleaseInfo r = ParseReleaseInfo(body + "#signature=QUJD\r\n");
    EXPECT_TRUE(r.Signed);
    EXPECT_EQ(r.Signature, "QUJD");
    EXPECT_EQ(r.SignedSize, body.size());
    EXPECT_EQ(r.Message, "never closed\n") << "an open message ends where the signed part ends";
    EXPECT_FALSE(ParseReleaseInfo(body + "#signature=QUJD\n#url1=http://evil/x\n").Signed);
    ASSERT_TRUE(r.ValueOffset("#VERSION"));
    EXPECT_EQ(*r.ValueOffset("#VERSION"), 9u);
  }
  {
    SCOPED_TRACE("a truncated file: what is there is read, a cut value is malformed");
    const std::string whole = "#version=2.0\n#url1=http://h/a\n#hash1=" + hash + "\n";
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
      const TReleaseInfo r = ParseReleaseInfo(whole.substr(0, cut));
      std::vector<std::optional<trust::TFileHash>> hashes;
      std::string reason;
      const bool read = trust::ReadFileHashes(r.Files, false, hashes, reason);
      if (r.Files.empty() || r.Files[0].HashText.empty()) continue;
      // "sha256:", 64 digits, a blank and at least one digit of the size.
      EXPECT_EQ(read, r.Files[0].HashText.size() >= 73) << cut << ": " << reason;
      if (!read) {
        EXPECT_NE(reason.find("malformed #hash1"), std::string::npos) << cut;
      }
    }
  }
  {
    SCOPED_TRACE("a megabyte of keys on one line: refused, not read into memory without bound");
    std::string text;
    for (int n = 1; text.size() < 1024 * 1024; ++n)
      text += "#url" + std::to_string(n) + "=";
    const TReleaseInfo r = ParseReleaseInfo("#version=9\n" + text);
    EXPECT_NE(r.Problem, "");
    EXPECT_TRUE(r.Files.empty());

    // The engine tells it as a refused file and downloads nothing.
    TkvScriptedUpgradeUI ui;
    TkvKelvora engine(nullptr);
    engine.SetUI(&ui);
    engine.SetShowMessages(0);
    engine.SetVersionControl(byNumber);
    engine.SetVersionNumber("1.0");
    std::string refused;
    engine.OnVerificationFailed = [&](TObject*, const std::string& Reason) { refused = Reason; };
    bool begun = false;
    engine.OnBeginUpgrade = [&](TObject*, const std::string&, TztUpgradeMethod, TkvStringList&, bool&) { begun = true; };
    TMemoryStream stream;
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
    engine.ParseInfoFile(stream);
    EXPECT_EQ(refused, r.Problem);
    EXPECT_FALSE(begun);
    EXPECT_EQ(engine.FileList().Count(), 0);
  }
}
