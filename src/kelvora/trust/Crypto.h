// The cryptographic seam of the trust layer: SHA-256, base64 and ECDSA P-256
// signatures over SHA-256. The engine and the publisher tool use only these
// calls; the back-end is the system's crypto library (OpenSSL 3 here).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::trust {

// Standard base64 with padding. Decoding is strict: no blanks or line
// breaks, length a multiple of four, "=" only at the end, the unused bits
// of the last group zero (only the canonical text of each byte string).
std::string Base64Encode(std::string_view Data);
std::optional<std::string> Base64Decode(std::string_view Text);

// A SHA-256 computed piece by piece.
class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  void Update(const void* Data, size_t Size);
  // The digest in lower-case hex; ends the computation.
  std::string HexDigest();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
std::string Sha256Hex(std::string_view Data);

// True when PublicKeyDer is a DER SubjectPublicKeyInfo of a P-256 key.
bool IsP256PublicKey(std::string_view PublicKeyDer);
// True when SignatureDer is a valid ECDSA signature (DER) of Message's
// SHA-256 by that key. Any malformed input is simply not valid.
bool VerifySignature(std::string_view PublicKeyDer, std::string_view Message, std::string_view SignatureDer);

// For the publisher. Each throws std::runtime_error with the reason.
struct TKeyPair {
  std::string PrivateKeyPem;  // PKCS#8
  std::string PublicKeyDer;   // SubjectPublicKeyInfo
};
TKeyPair GenerateKeyPair();
// The public key (DER SubjectPublicKeyInfo) of a private key in PEM.
std::string PublicKeyOf(const std::string& PrivateKeyPem);
// ECDSA signature (DER) of Message's SHA-256 with a P-256 private key in PEM.
std::string SignMessage(const std::string& PrivateKeyPem, std::string_view Message);

}  // namespace kelvora::trust
