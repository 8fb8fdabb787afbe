// The byte rules of the trust keys, and the verdict on an info file.
#include <gtest/gtest.h>

#include "kelvora/InfoFile.h"
#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/InfoTrust.h"

using namespace kelvora::trust;

TEST(TrustFormat, TheSignatureLineIsTheLastLineAndCoversEveryByteBefore) {
  const TKeyPair key = GenerateKeyPair();
  const std::string pub = Base64Encode(key.PublicKeyDer);
  const std::string body = "#version=2.0\r\n#url1=http://h/a\r\n#hash1=sha256:" + std::string(64, 'a') + " 1\r\n";
  const std::string sig = "#SIGNATURE=" + Base64Encode(SignMessage(key.PrivateKeyPem, body));
  for (const std::string end : {"", "\n", "\r\n"}) {
    const std::string file = body + sig + end;
    const auto parts = SplitSignature(file);
    ASSERT_TRUE(parts) << "ending " << end.size();
    EXPECT_EQ(parts->Covered, body);
    const TInfoVerdict v = VerifyInfoFile(file, "not-a-key " + pub, 0);
    EXPECT_TRUE(v.Ok) << v.Reason;
    EXPECT_EQ(v.Text, body) << "only the covered part is read";
  }
  EXPECT_FALSE(SplitSignature(body + sig + "\n\n")) << "an empty last line is not the signature";
  EXPECT_FALSE(SplitSignature(body + sig + "\n#url2=http://evil/b\n"));
  EXPECT_FALSE(VerifyInfoFile(body + sig + " ", pub, 0).Ok) << "a blank after the base64";
  EXPECT_FALSE(VerifyInfoFile(body + "\n" + sig, pub, 0).Ok) << "an inserted line break";
  const TInfoVerdict noKey = VerifyInfoFile(body + sig, "AAAA", 0);
  EXPECT_FALSE(noKey.Ok);
  EXPECT_NE(noKey.Reason.find("public key"), std::string::npos) << "a key that is not one is named";
  EXPECT_TRUE(VerifyInfoFile("anything", " \t", 0).Ok) << "no key: nothing to check";
  EXPECT_FALSE(Base64Decode("QUJD\n"));
  EXPECT_FALSE(Base64Decode("QU=D"));
  EXPECT_EQ(Base64Decode("QUI="), "AB");
  // One text per byte string: unused bits set make another text of the same bytes.
  for (const char* loose : {"QUJ=", "QUL=", "QR==", "QX=="}) EXPECT_FALSE(Base64Decode(loose)) << loose;
  EXPECT_EQ(Base64Decode("QQ=="), "A");
}

TEST(TrustFormat, HashAndExpiryValuesAreReadExactly) {
  const std::string hex(64, 'A');
  const auto h = ParseHashValue("sha256:" + hex + " 1234");
  ASSERT_TRUE(h);
  EXPECT_EQ(h->Sha256, std::string(64, 'a'));
  EXPECT_EQ(h->Size, 1234);
  for (const std::string& bad : {"sha256:" + hex, "sha256:" + hex + "  1", "sha256:" + hex + " -1",
                                 "sha256:" + hex + " 1x", "sha256:" + hex.substr(1) + " 1", "SHA256:" + hex + " 1",
                                 "sha256:" + hex + " 1234567890123456789", "sha1:" + hex + " 1"})
    EXPECT_FALSE(ParseHashValue(bad)) << bad;

  EXPECT_EQ(ParseExpires("1970-01-01"), 86400) << "a date is valid through that day (UTC)";
  EXPECT_EQ(ParseExpires("1970-01-02T00:00:10Z"), 86410);
  for (const char* bad : {"2026-02-29", "2026-13-01", "2026-1-01", "2026-01-01T24:00:00Z", "2026-01-01 10:00:00",
                          "01/01/2026", ""})
    EXPECT_FALSE(ParseExpires(bad)) << bad;

  const TKeyPair key = GenerateKeyPair();
  const std::string body = "#expires=1970-01-02T00:00:10Z\n";
  const std::string file = body + "#signature=" + Base64Encode(SignMessage(key.PrivateKeyPem, body));
  EXPECT_TRUE(VerifyInfoFile(file, Base64Encode(key.PublicKeyDer), 86409).Ok);
  EXPECT_FALSE(VerifyInfoFile(file, Base64Encode(key.PublicKeyDer), 86410).Ok);

  // Each entry's hash key has the suffix of the key the entry came from, also
  // when the list leaves out a duplicate.
  kelvora::TkvStringList list;
  std::vector<std::string> suffixes;
  kelvora::ReadFileList("#url0=a\n#url2=a\n#url3=b\n", list, &suffixes);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(suffixes, (std::vector<std::string>{"0", "3"}));
}
