#include "kelvora/trust/InfoTrust.h"

#include <sstream>

#include "kelvora/InfoFile.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

std::vector<std::string> DecodePublicKeys(const std::string& Keys, std::string* Reason) {
  std::vector<std::string> out;
  std::istringstream in(Keys);
  std::string word;
  while (in >> word) {
    std::optional<std::string> der = Base64Decode(word);
    if (der && IsP256PublicKey(*der))
      out.push_back(std::move(*der));
    else if (Reason != nullptr)
      *Reason = "a public key is not a base64 P-256 SubjectPublicKeyInfo: " + word.substr(0, 16) + "...";
  }
  return out;
}

TInfoVerdict VerifyInfoFile(const std::string& Text, const std::string& Keys, int64_t Now) {
  TInfoVerdict v;
  std::string keyProblem;
  const std::vector<std::string> keys = DecodePublicKeys(Keys, &keyProblem);
  if (keys.empty()) {
    if (keyProblem.empty()) {  // no key set: nothing to check
      v.Ok = true;
      v.Text = Text;
    } else {
      v.Reason = keyProblem;
    }
    return v;
  }
  const std::optional<TSignedText> parts = SplitSignature(Text);
  if (!parts) {
    v.Reason = "the info file is not signed";
    return v;
  }
  const std::optional<std::string> signature = Base64Decode(parts->Signature);
  if (!signature) {
    v.Reason = "the info file's signature is not valid base64";
    return v;
  }
  bool signedByKey = false;
  for (const std::string& key : keys) signedByKey = signedByKey || VerifySignature(key, parts->Covered, *signature);
  if (!signedByKey) {
    v.Reason = "the info file's signature does not match any public key";
    return v;
  }
  v.Text.assign(parts->Covered);
  const std::string expires = ReadInfoValue(v.Text, "#expires");
  if (!expires.empty()) {
    const std::optional<int64_t> end = ParseExpires(expires);
    if (!end) {
      v.Reason = "the info file's expiry date is malformed: " + expires;
      return v;
    }
    if (Now >= *end) {
      v.Reason = "the info file expired on " + expires;
      return v;
    }
  }
  v.Ok = true;
  return v;
}

bool ReadFileHashes(const std::string& Text, const std::vector<std::string>& Suffixes, bool Required,
                    std::vector<std::optional<TFileHash>>& Hashes, std::string& Reason) {
  Hashes.clear();
  for (const std::string& suffix : Suffixes) {
    const std::string key = "#hash" + suffix;
    const std::string value = ReadInfoValue(Text, key);
    if (value.empty()) {
      if (Required) {
        Reason = "the signed info file lists no " + key + " for #url" + suffix;
        return false;
      }
      Hashes.emplace_back();
      continue;
    }
    std::optional<TFileHash> hash = ParseHashValue(value);
    if (!hash) {
      Reason = "malformed " + key + ": " + value.substr(0, 100);
      return false;
    }
    Hashes.push_back(std::move(hash));
  }
  return true;
}

}  // namespace kelvora::trust
