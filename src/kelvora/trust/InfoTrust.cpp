#include "kelvora/trust/InfoTrust.h"

#include <sstream>

#include "kelvora/ReleaseInfo.h"
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
  const TReleaseInfo release = ParseReleaseInfo(Text);
  TInfoVerdict v = VerifyInfoFile(release, Text, Keys, Now);
  if (v.Ok) v.Text = DecodePublicKeys(Keys).empty() ? Text : Text.substr(0, release.SignedSize);
  return v;
}

TInfoVerdict VerifyInfoFile(const TReleaseInfo& Release, std::string_view Text, const std::string& Keys,
                            int64_t Now) {
  TInfoVerdict v;
  std::string keyProblem;
  const std::vector<std::string> keys = DecodePublicKeys(Keys, &keyProblem);
  if (keys.empty()) {
    if (keyProblem.empty()) {  // no key set: nothing to check
      v.Ok = true;
    } else {
      v.Reason = keyProblem;
    }
    return v;
  }
  if (!Release.Signed || Release.SignedSize > Text.size()) {
    v.Reason = "the info file is not signed";
    return v;
  }
  const std::optional<std::string> signature = Base64Decode(Release.Signature);
  if (!signature) {
    v.Reason = "the info file's signature is not valid base64";
    return v;
  }
  bool signedByKey = false;
  const std::string_view covered = Text.substr(0, Release.SignedSize);
  for (const std::string& key : keys) signedByKey = signedByKey || VerifySignature(key, covered, *signature);
  if (!signedByKey) {
    v.Reason = "the info file's signature does not match any public key";
    return v;
  }
  const std::string& expires = Release.Expires;
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

bool ReadFileHashes(const std::vector<TReleaseFile>& Files, bool Required,
                    std::vector<std::optional<TFileHash>>& Hashes, std::string& Reason) {
  Hashes.clear();
  for (const TReleaseFile& file : Files) {
    const std::string key = "#hash" + file.Suffix;
    if (file.HashText.empty()) {
      if (Required) {
        Reason = "the signed info file lists no " + key + " for #url" + file.Suffix;
        return false;
      }
      Hashes.emplace_back();
      continue;
    }
    if (!file.Hash) {
      Reason = "malformed " + key + ": " + file.HashText.substr(0, 100);
      return false;
    }
    Hashes.push_back(file.Hash);
  }
  return true;
}

}  // namespace kelvora::trust
