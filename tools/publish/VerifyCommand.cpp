// verify: what the component will check, checked before the upload.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "MakePatches.h"
#include "PublishCommands.h"
#include "PublishIo.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/ReleaseVersion.h"
#include "kelvora/delta/PatchOffer.h"
#include "kelvora/kvUtils.h"
#include "kelvora/trust/DownloadCheck.h"
#include "kelvora/trust/InfoTrust.h"
#include "utils/TextUtils.h"

namespace publish {

namespace {

// "file:line" of the first occurrence of Key= in Text, read as Release (the
// signature line for the signature, the last line when the key is absent).
std::string At(const std::string& File, const std::string& Text, const kelvora::TReleaseInfo& Release,
               const std::string& Key) {
  std::optional<size_t> at = Release.ValueOffset(Key);
  if (!at && Release.Signed && kelvora::utils::LowerCase(Key) == "#signature") at = Release.SignedSize;
  const size_t offset = at ? *at : (Text.empty() ? 0 : Text.size() - 1);
  return File + ":" + std::to_string(LineOf(Text, offset));
}

std::string LastSegment(const std::string& Address) {
  std::string a = Address.substr(0, Address.find_first_of("?#"));
  return a.substr(a.rfind('/') + 1);
}

bool IsRegularFile(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

int Verify(const Args& A) {
  const Options o = ParseOptions(A, {"--public-key", "--public-key-file", "--files", "--previous"});
  if (o.Help) {
    std::puts(
        "usage: kelvora-publish verify <info file> (--public-key <key> | --public-key-file <file>)\n"
        "                              [--files <folder> [--previous <folder>]...]\n"
        "\n"
        "Checks what the component checks before it downloads: the signature by\n"
        "one of the public keys (blank-separated, as in PublicKey), the expiry, and\n"
        "a well-formed hash for every listed file. With --files, also checks each\n"
        "listed file, found in the folder under the last part of its address,\n"
        "against its size and SHA-256, and each offered patch (\"#patch<n>.<k>\")\n"
        "likewise. Each --previous folder holds an older release, its files under\n"
        "the same names: a patch whose old file is found there is applied to it and\n"
        "must make the listed file.");
    return 0;
  }
  std::string keys;
  if (const std::string* k = o.Get("--public-key")) keys = *k;
  if (const std::string* f = o.Get("--public-key-file")) keys += " " + ReadFile(*f);
  if (o.Operands.size() != 1 || kelvora::utils::Trim(keys).empty())
    throw Failure("give an info file and a public key (try --help)", kExitUsage);
  const std::string& file = o.Operands[0];
  const std::string text = ReadFile(file);
  const kelvora::TReleaseInfo release = kelvora::ParseReleaseInfo(text);
  auto at = [&](const std::string& Key) { return At(file, text, release, Key); };

  const kelvora::trust::TInfoVerdict verdict =
      kelvora::trust::VerifyInfoFile(release, text, keys, static_cast<int64_t>(std::time(nullptr)));
  if (!verdict.Ok) {
    const bool expiry = verdict.Reason.find("expir") != std::string::npos;
    throw Failure(at(expiry ? "#expires" : std::string(kelvora::trust::kSignatureKey, 0, 10)) + ": " + verdict.Reason);
  }
  if (!release.Problem.empty()) throw Failure(file + ": " + release.Problem);
  if (!release.ControlProblem.empty()) {
    const std::string key = release.ControlProblem.substr(10, release.ControlProblem.find(':') - 10);
    throw Failure(at(key) + ": " + release.ControlProblem);
  }
  if (const std::string problem = kelvora::ReleaseVersionProblem(release.Version);
      !release.Version.empty() && !problem.empty())
    throw Failure(at("#version") + ": " + problem);
  kelvora::TkvStringList list;
  std::vector<std::string> suffixes;
  kelvora::FillFileList(release, list, &suffixes);
  if (list.Count() == 0) throw Failure(file + ": lists no file");
  // What the component will install, or the reason it refuses the file.
  if (release.UnreadFileKey)
    throw Failure(at("#url" + *release.UnreadFileKey) + ": " + kelvora::UnreadFileKeyReason(*release.UnreadFileKey));
  const bool redirect = release.Method == 2;
  std::vector<std::optional<kelvora::trust::TFileHash>> hashes;
  std::string reason;
  if (!kelvora::trust::ReadFileHashes(release.Files, !redirect, hashes, reason)) {
    const size_t key = reason.find("#hash");
    const std::string name =
        key == std::string::npos ? "#hash" : reason.substr(key, reason.find_first_of(": ", key) - key);
    throw Failure(at(name) + ": " + reason);
  }
  // A malformed patch key makes the component refuse the whole file; a patch
  // for an entry without a hash could not be checked after it is applied.
  std::vector<std::vector<kelvora::delta::TPatchOffer>> patches(list.Count());
  int offered = 0;
  for (int i = 0; i < list.Count(); ++i) {
    if (const kelvora::TPatchOffers* read = release.PatchesOf(suffixes[i])) {
      if (!read->Error.empty()) {
        const size_t key = read->Error.find("#patch");
        throw Failure(at(read->Error.substr(key, read->Error.find(':', key) - key)) + ": " + read->Error);
      }
      patches[i] = read->Offers;
    }
    if (!patches[i].empty() && !hashes[i])
      throw Failure(at("#patch" + suffixes[i] + ".1") + ": a patch for an entry without \"#hash" + suffixes[i] +
                    "\"");
    offered += static_cast<int>(patches[i].size());
  }
  const std::vector<std::string> previous = o.GetAll("--previous");
  if (!previous.empty() && o.Get("--files") == nullptr)
    throw Failure("--previous needs --files, the folder of the patches (try --help)", kExitUsage);
  int rebuilt = 0;
  if (const std::string* folder = o.Get("--files")) {
    int bad = 0;
    for (int i = 0; i < list.Count(); ++i) {
      if (!hashes[i]) continue;
      const std::string local = *folder + "/" + LastSegment(list.GetName(i));
      const std::string problem = kelvora::trust::CheckDownload(local, *hashes[i]);
      if (problem.empty()) continue;
      std::fprintf(stderr, "%s: %s\n", at("#hash" + suffixes[i]).c_str(), problem.c_str());
      ++bad;
    }
    for (int i = 0; i < list.Count(); ++i) {
      for (size_t k = 0; k < patches[i].size(); ++k) {
        const kelvora::delta::TPatchOffer& p = patches[i][k];
        const std::string where = at("#patch" + suffixes[i] + "." + std::to_string(k + 1));
        const std::string local = *folder + "/" + LastSegment(p.Address);
        std::string problem = kelvora::trust::CheckDownload(local, {p.Sha256, p.Size});
        for (const std::string& older : previous) {
          const std::string base = older + "/" + LastSegment(list.GetName(i));
          if (!problem.empty() || !IsRegularFile(base) || HashFile(base).Sha256 != p.BaseSha256) continue;
          problem = PatchMakes(base, local, *hashes[i]);
          rebuilt += problem.empty();
          break;
        }
        if (problem.empty()) continue;
        std::fprintf(stderr, "%s: %s\n", where.c_str(), problem.c_str());
        ++bad;
      }
    }
    if (bad > 0) throw Failure(std::to_string(bad) + " listed file(s) or patch(es) differ from the info file");
  }
  // What the component does with it: an installed file that is one of the
  // patches' old files downloads the patch, any other the whole file.
  std::string patchCount;
  if (offered > 0) {
    patchCount = ", " + std::to_string(offered) + " patch(es) from older releases";
    if (o.Get("--files") != nullptr) patchCount += " matching";
    if (!previous.empty()) patchCount += ", " + std::to_string(rebuilt) + " rebuilding the listed file";
  }
  std::printf("%s: signature valid, %d file(s) listed%s%s\n", file.c_str(), list.Count(),
              o.Get("--files") != nullptr ? " and matching" : "", patchCount.c_str());
  return 0;
}

}  // namespace publish
