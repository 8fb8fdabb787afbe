// The trust layer's crypto over OpenSSL 3 (libcrypto, which libcurl already
// brings along).
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

namespace {

struct PKeyFree {
  void operator()(EVP_PKEY* P) const { EVP_PKEY_free(P); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* C) const { EVP_MD_CTX_free(C); }
};
struct BioFree {
  void operator()(BIO* B) const { BIO_free(B); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

bool IsP256(EVP_PKEY* Key) {
  if (Key == nullptr || !EVP_PKEY_is_a(Key, "EC")) return false;
  char group[64] = {};
  size_t len = 0;
  if (EVP_PKEY_get_group_name(Key, group, sizeof group, &len) != 1) return false;
  return std::string_view(group, len) == "prime256v1";
}

PKey ReadPublicKey(std::string_view Der) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(Der.data());
  PKey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(Der.size())));
  // Trailing bytes after the structure mean it is not the key we were given.
  if (key && p != reinterpret_cast<const unsigned char*>(Der.data()) + Der.size()) key.reset();
  return key;
}

PKey ReadPrivateKey(const std::string& Pem) {
  Bio bio(BIO_new_mem_buf(Pem.data(), static_cast<int>(Pem.size())));
  PKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  if (!key) throw std::runtime_error("not a PEM private key");
  if (!IsP256(key.get())) throw std::runtime_error("not an ECDSA P-256 private key");
  return key;
}

std::string PublicDer(EVP_PKEY* Key) {
  unsigned char* der = nullptr;
  const int len = i2d_PUBKEY(Key, &der);
  if (len <= 0) throw std::runtime_error("cannot encode the public key");
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(len));
  OPENSSL_free(der);
  return out;
}

bool IsBase64Char(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' || C == '/';
}

}  // namespace

std::string Base64Encode(std::string_view Data) {
  std::string out(4 * ((Data.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(Data.data()), static_cast<int>(Data.size()));
  out.resize(static_cast<size_t>(n));
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
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(Text.data()), static_cast<int>(Text.size()));
  if (n < 0 || static_cast<size_t>(n) != out.size()) return std::nullopt;
  out.resize(out.size() - pad);
  // One text per byte string: unused bits of the last group must be zero.
  if (Base64Encode(out) != Text) return std::nullopt;
  return out;
}

struct TSha256::Impl {
  MdCtx ctx{EVP_MD_CTX_new()};
};

TSha256::TSha256() : impl_(std::make_unique<Impl>()) {
  if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx.get(), EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 is not available");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* Data, size_t Size) { EVP_DigestUpdate(impl_->ctx.get(), Data, Size); }

std::string TSha256::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(impl_->ctx.get(), digest, &len);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view Data) {
  TSha256 h;
  h.Update(Data.data(), Data.size());
  return h.HexDigest();
}

bool IsP256PublicKey(std::string_view PublicKeyDer) {
  PKey key = ReadPublicKey(PublicKeyDer);
  return IsP256(key.get());
}

bool VerifySignature(std::string_view PublicKeyDer, std::string_view Message, std::string_view SignatureDer) {
  PKey key = ReadPublicKey(PublicKeyDer);
  if (!IsP256(key.get())) return false;
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1) return false;
  return EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(SignatureDer.data()), SignatureDer.size(),
                          reinterpret_cast<const unsigned char*>(Message.data()), Message.size()) == 1;
}

TKeyPair GenerateKeyPair() {
  PKey key(EVP_EC_gen("P-256"));
  if (!key) throw std::runtime_error("cannot generate a P-256 key");
  Bio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
    throw std::runtime_error("cannot encode the private key");
  char* data = nullptr;
  const long len = BIO_get_mem_data(bio.get(), &data);
  TKeyPair pair;
  pair.PrivateKeyPem.assign(data, static_cast<size_t>(len));
  pair.PublicKeyDer = PublicDer(key.get());
  return pair;
}

std::string PublicKeyOf(const std::string& PrivateKeyPem) { return PublicDer(ReadPrivateKey(PrivateKeyPem).get()); }

std::string SignMessage(const std::string& PrivateKeyPem, std::string_view Message) {
  PKey key = ReadPrivateKey(PrivateKeyPem);
  MdCtx ctx(EVP_MD_CTX_new());
  size_t len = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(Message.data()),
                     Message.size()) != 1)
    throw std::runtime_error("cannot sign");
  std::string sig(len, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &len,
                     reinterpret_cast<const unsigned char*>(Message.data()), Message.size()) != 1)
    throw std::runtime_error("cannot sign");
  sig.resize(len);
  return sig;
}

}  // namespace kelvora::trust
