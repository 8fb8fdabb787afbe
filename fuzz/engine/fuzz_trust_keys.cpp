// Any text from a server as a signed info file: the signature line, the
// expiry, the hash keys and the whole verdict must neither crash nor hang,
// and whatever is accepted must be the covered part of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/InfoTrust.h"

using namespace kelvora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const TReleaseInfo release = ParseReleaseInfo(text);
  if (release.Signed) {
    if (release.SignedSize > text.size()) std::abort();
    trust::Base64Decode(release.Signature);
  }
  trust::ParseExpires(release.Expires);

  // One fixed key: a fuzzed file is never validly signed by it, so the
  // verdict must always refuse.
  static const std::string key = trust::Base64Encode(trust::GenerateKeyPair().PublicKeyDer);
  const trust::TInfoVerdict verdict = trust::VerifyInfoFile(release, text, key, 0);
  if (verdict.Ok) std::abort();

  // The hash keys of whatever list the text holds, required and not.
  TkvStringList list;
  std::vector<std::string> suffixes;
  FillFileList(release, list, &suffixes);
  if (static_cast<int>(suffixes.size()) != list.Count() || suffixes.size() != release.Files.size()) std::abort();
  std::vector<std::optional<trust::TFileHash>> hashes;
  std::string reason;
  for (bool required : {false, true})
    if (trust::ReadFileHashes(release.Files, required, hashes, reason) && hashes.size() != suffixes.size())
      std::abort();
  return 0;
}
