// The trust layer's CNG back-end against a key and a signature made with the
// openssl command line (openssl dgst -sha256 -sign).
#include <gtest/gtest.h>

#include <stdexcept>

#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {
namespace {

const char kKey[] =
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEAVWoP/6FHkmOds9FbLe1BrKF7dBMEkAw187fVk4k9qoZkNLqlng97Cd94kqPS1Z9HUAL9iELLhw7"
    "sM+Mhhy6lg==";
const char kKey384[] =
    "MHYwEAYHKoZIzj0CAQYFK4EEACIDYgAEJFuLefraQ75l/QywbXy0B5fOwtwLOfu9uGko7AIsZd6TlVlfSkqBW6drZN2BOpeclr7vmWf7WzKRil8c"
    "iac96KxLwZiyZJhftord479KmOHaiKSDCJLx0J17tHtvkJfp";
const char kMessage[] = "version 2.1\nsigned text\n";
const char kSignature[] =
    "MEYCIQDGwwDwr+/l0il46WT8vLkRjoO1/NLzP2fQxncA3J4aKgIhAP98FQ4IowCkbaH6SGci0tuFe7fsx5B7sATGTlljVplL";

std::string Decoded(const char* Text) { return Base64Decode(Text).value_or(""); }

TEST(CryptoCNG, HashesAndBase64) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  TSha256 pieces;  // the same digest fed in pieces
  pieces.Update("a", 1);
  pieces.Update("bc", 2);
  EXPECT_EQ(pieces.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode(std::string(100, 'x')).size(), 136u);  // one line, no breaks
  EXPECT_EQ(Base64Decode("YWI="), "ab");
  EXPECT_EQ(Base64Decode(""), "");
  for (const char* bad : {"YWI", "YW I=", "YWI=\n", "Y=WI", "YWI*"}) EXPECT_FALSE(Base64Decode(bad)) << bad;
  // Unused bits set: another text of the same bytes, refused.
  for (const char* loose : {"YWJ=", "YWL=", "YR==", "YX=="}) EXPECT_FALSE(Base64Decode(loose)) << loose;
  EXPECT_EQ(Base64Decode("YQ=="), "a");
}

TEST(CryptoCNG, VerifiesOnlyTheSignedMessageWithItsKey) {
  const std::string key = Decoded(kKey), sig = Decoded(kSignature);
  ASSERT_FALSE(key.empty());
  EXPECT_TRUE(IsP256PublicKey(key));
  EXPECT_TRUE(VerifySignature(key, kMessage, sig));

  std::string message = kMessage;
  message[3] ^= 1;
  EXPECT_FALSE(VerifySignature(key, message, sig));
  std::string flipped = sig;
  flipped[10] ^= 1;
  EXPECT_FALSE(VerifySignature(key, kMessage, flipped));
  EXPECT_FALSE(VerifySignature(key, kMessage, sig.substr(0, sig.size() - 1)));
  EXPECT_FALSE(VerifySignature(key, kMessage, sig + '\0'));
  EXPECT_FALSE(VerifySignature(key, kMessage, ""));

  EXPECT_FALSE(IsP256PublicKey(Decoded(kKey384)));  // another curve
  EXPECT_FALSE(IsP256PublicKey(key + '\0'));         // trailing bytes
  // A point off the curve: Wine's CNG takes it on import (so it is not
  // checked by IsP256PublicKey here), but nothing verifies with it.
  std::string offCurve = key;
  offCurve[offCurve.size() - 1] ^= 1;
  EXPECT_FALSE(VerifySignature(offCurve, kMessage, sig));
  EXPECT_FALSE(IsP256PublicKey("garbage"));

  EXPECT_THROW(GenerateKeyPair(), std::runtime_error);
}

}  // namespace
}  // namespace kelvora::trust
