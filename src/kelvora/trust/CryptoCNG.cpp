// The trust layer's crypto over the system's CNG (bcrypt) and crypt32:
// SHA-256 and ECDSA P-256 verification, base64. Keys are made and messages
// signed by the publisher's tool, which runs on Linux.
#include <windows.h>
// windows.h first: bcrypt.h and wincrypt.h need its types.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

namespace {

// DER of the OID of the P-256 curve (prime256v1), the key's parameters.
constexpr unsigned char kP256Oid[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr size_t kCoordinate = 32;

bool IsBase64Char(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' || C == '/';
}

// The length of one DER element at Der[0] (tag, length, contents); 0 when
// it does not fit in Size bytes.
size_t DerElementSize(const unsigned char* Der, size_t Size) {
  if (Size < 2) return 0;
  size_t len = Der[1], head = 2;
  if (len & 0x80) {
    const size_t count = len & 0x7f;
    if (count == 0 || count > 2 || Size < 2 + count) return 0;
    len = 0;
    for (size_t i = 0; i < count; ++i) len = (len << 8) | Der[2 + i];
    head += count;
  }
  return head + len <= Size ? head + len : 0;
}

// The uncompressed point (0x04 X Y) of a P-256 SubjectPublicKeyInfo, or "".
std::string P256Point(std::string_view Der) {
  const auto* p = reinterpret_cast<const unsigned char*>(Der.data());
  // Trailing bytes after the structure mean it is not the key we were given.
  if (Der.empty() || p[0] != 0x30 || DerElementSize(p, Der.size()) != Der.size()) return {};
  CERT_PUBLIC_KEY_INFO* info = nullptr;
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, p, static_cast<DWORD>(Der.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size))
    return {};
  std::string point;
  const CRYPT_ALGORITHM_IDENTIFIER& alg = info->Algorithm;
  const bool ec = alg.pszObjId != nullptr && std::string_view(alg.pszObjId) == szOID_ECC_PUBLIC_KEY;
  const bool p256 = alg.Parameters.cbData == sizeof kP256Oid &&
                    std::string_view(reinterpret_cast<const char*>(alg.Parameters.pbData), sizeof kP256Oid) ==
                        std::string_view(reinterpret_cast<const char*>(kP256Oid), sizeof kP256Oid);
  const CRYPT_BIT_BLOB& key = info->PublicKey;
  if (ec && p256 && key.cUnusedBits == 0 && key.cbData == 1 + 2 * kCoordinate && key.pbData[0] == 0x04)
    point.assign(reinterpret_cast<const char*>(key.pbData), key.cbData);
  ::LocalFree(info);
  return point;
}

class TAlgorithm {
 public:
  explicit TAlgorithm(LPCWSTR Id) {
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle_, Id, nullptr, 0))) handle_ = nullptr;
  }
  ~TAlgorithm() {
    if (handle_ != nullptr) ::BCryptCloseAlgorithmProvider(handle_, 0);
  }
  TAlgorithm(const TAlgorithm&) = delete;
  TAlgorithm& operator=(const TAlgorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// A CNG key of the point, or null when the system refuses it (not on the
// curve).
BCRYPT_KEY_HANDLE ImportP256(const TAlgorithm& Ecdsa, const std::string& Point) {
  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinate, '\0');
  BCRYPT_ECCKEY_BLOB head{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinate};
  std::memcpy(blob.data(), &head, sizeof head);
  std::memcpy(blob.data() + sizeof head, Point.data() + 1, 2 * kCoordinate);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (Ecdsa.get() == nullptr ||
      !BCRYPT_SUCCESS(::BCryptImportKeyPair(Ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                            reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0)))
    return nullptr;
  return key;
}

// One INTEGER of a DER signature, as 32 big-endian bytes: positive, minimal
// encoding, at most 32 bytes of value.
bool ReadInteger(const unsigned char*& P, const unsigned char* End, unsigned char* Out) {
  if (End - P < 2 || P[0] != 0x02 || (P[1] & 0x80) || P[1] == 0 || End - P - 2 < P[1]) return false;
  size_t len = P[1];
  const unsigned char* v = P + 2;
  P = v + len;
  if (v[0] & 0x80) return false;                               // negative
  if (len > 1 && v[0] == 0 && !(v[1] & 0x80)) return false;   // not minimal
  if (v[0] == 0 && len > 1) ++v, --len;
  if (len > kCoordinate) return false;
  std::memset(Out, 0, kCoordinate - len);
  std::memcpy(Out + kCoordinate - len, v, len);
  return true;
}

// The DER signature SEQUENCE { r, s } as the raw r||s that CNG takes.
bool RawSignature(std::string_view Der, unsigned char (&Raw)[2 * kCoordinate]) {
  const auto* p = reinterpret_cast<const unsigned char*>(Der.data());
  const unsigned char* end = p + Der.size();
  if (Der.size() < 2 || p[0] != 0x30 || (p[1] & 0x80) || static_cast<size_t>(p[1]) + 2 != Der.size()) return false;
  p += 2;
  return ReadInteger(p, end, Raw) && ReadInteger(p, end, Raw + kCoordinate) && p == end;
}

// The raw SHA-256 of Data; false when the system has none.
bool Sha256(std::string_view Data, unsigned char (&Digest)[32]) {
  TAlgorithm sha(BCRYPT_SHA256_ALGORITHM);
  BCRYPT_HASH_HANDLE h = nullptr;
  if (sha.get() == nullptr || !BCRYPT_SUCCESS(::BCryptCreateHash(sha.get(), &h, nullptr, 0, nullptr, 0, 0))) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < Data.size();) {  // ULONG-sized pieces
    const ULONG n = static_cast<ULONG>(std::min<size_t>(Data.size() - at, 0x40000000));
    ok = BCRYPT_SUCCESS(::BCryptHashData(h, reinterpret_cast<PUCHAR>(const_cast<char*>(Data.data() + at)), n, 0));
    at += n;
  }
  ok = ok && BCRYPT_SUCCESS(::BCryptFinishHash(h, Digest, sizeof Digest, 0));
  ::BCryptDestroyHash(h);
  return ok;
}

[[noreturn]] void NotHere(const char* What) {
  throw std::runtime_error(std::string(What) + " is done by the publisher's tool, which does not run on Windows");
}

}  // namespace

std::string Base64Encode(std::string_view Data) {
  if (Data.empty()) return {};
  DWORD len = 0;
  const auto* p = reinterpret_cast<const BYTE*>(Data.data());
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  if (!::CryptBinaryToStringA(p, static_cast<DWORD>(Data.size()), flags, nullptr, &len)) return {};
  std::string out(len, '\0');
  if (!::CryptBinaryToStringA(p, static_cast<DWORD>(Data.size()), flags, out.data(), &len)) return {};
  out.resize(len);
  while (!out.empty() && (out.back() == '\0' || out.back() == '\r' || out.back() == '\n')) out.pop_back();
  return out;
}

std::optional<std::string> Base64Decode(std::string_view Text) {
  if (Text.size() % 4 != 0) return std::nullopt;
  size_t pad = 0;
  while (pad < 2 && pad < Text.size() && Text[Text.size() - 1 - pad] == '=') ++pad;
  for (size_t i = 0; i + pad < Text.size(); ++i)
    if (!IsBase64Char(Text[i])) return std::nullopt;
  if (Text.empty()) return std::string();
  std::string out(Text.size() / 4 * 3, '\0');
  DWORD len = static_cast<DWORD>(out.size());
  if (!::CryptStringToBinaryA(Text.data(), static_cast<DWORD>(Text.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(out.data()), &len, nullptr, nullptr) ||
      len != out.size() - pad)
    return std::nullopt;
  out.resize(len);
  // One text per byte string: unused bits of the last group must be zero.
  if (Base64Encode(out) != Text) return std::nullopt;
  return out;
}

struct TSha256::Impl {
  TAlgorithm alg{BCRYPT_SHA256_ALGORITHM};
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~Impl() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
  }
};

TSha256::TSha256() : impl_(std::make_unique<Impl>()) {
  if (impl_->alg.get() == nullptr ||
      !BCRYPT_SUCCESS(::BCryptCreateHash(impl_->alg.get(), &impl_->hash, nullptr, 0, nullptr, 0, 0)))
    throw std::runtime_error("SHA-256 is not available");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* Data, size_t Size) {
  const auto* p = static_cast<const unsigned char*>(Data);
  while (Size > 0) {  // ULONG-sized pieces
    const ULONG n = static_cast<ULONG>(Size > 0x40000000 ? 0x40000000 : Size);
    ::BCryptHashData(impl_->hash, const_cast<PUCHAR>(p), n, 0);
    p += n;
    Size -= n;
  }
}

std::string TSha256::HexDigest() {
  unsigned char digest[32] = {};
  ::BCryptFinishHash(impl_->hash, digest, sizeof digest, 0);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view Data) {
  TSha256 h;
  h.Update(Data.data(), Data.size());
  return h.HexDigest();
}

bool IsP256PublicKey(std::string_view PublicKeyDer) {
  const std::string point = P256Point(PublicKeyDer);
  if (point.empty()) return false;
  TAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  const BCRYPT_KEY_HANDLE key = ImportP256(ecdsa, point);
  if (key == nullptr) return false;
  ::BCryptDestroyKey(key);
  return true;
}

bool VerifySignature(std::string_view PublicKeyDer, std::string_view Message, std::string_view SignatureDer) {
  const std::string point = P256Point(PublicKeyDer);
  unsigned char raw[2 * kCoordinate];
  if (point.empty() || !RawSignature(SignatureDer, raw)) return false;
  TAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  const BCRYPT_KEY_HANDLE key = ImportP256(ecdsa, point);
  if (key == nullptr) return false;
  unsigned char digest[32];
  const bool ok = Sha256(Message, digest) &&
                  BCRYPT_SUCCESS(::BCryptVerifySignature(key, nullptr, digest, sizeof digest, raw, sizeof raw, 0));
  ::BCryptDestroyKey(key);
  return ok;
}

TKeyPair GenerateKeyPair() { NotHere("Making a signing key"); }
std::string PublicKeyOf(const std::string&) { NotHere("Reading a signing key"); }
std::string SignMessage(const std::string&, std::string_view) { NotHere("Signing"); }

}  // namespace kelvora::trust
