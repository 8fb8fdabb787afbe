#include "MakePatches.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "PublishIo.h"
#include "kelvora/delta/MatchPatchMaker.h"
#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/trust/Crypto.h"

namespace publish {

namespace {

std::string BaseName(const std::string& Path) { return Path.substr(Path.rfind('/') + 1); }

bool IsRegularFile(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The patch's file name: the file's served name (letters, digits, ".", "-"
// and "_" kept, anything else "_") and the start of both hashes, so that an
// address never serves two different patches.
std::string PatchName(const TReleaseFile& F, const std::string& BaseSha256) {
  std::string served = F.Url.substr(0, F.Url.find_first_of("?#"));
  served = BaseName(served).empty() ? BaseName(F.Path) : BaseName(served);
  for (char& c : served)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
      c = '_';
  return served + "." + BaseSha256.substr(0, 12) + "-" + F.Hash->Sha256.substr(0, 12) + ".patch";
}

// Where the patch is served: under patch_url, or beside the file itself.
std::string PatchAddress(const TRelease& R, const TReleaseFile& F, const std::string& Name) {
  std::string base = R.PatchUrl;
  if (base.empty()) {
    const std::string url = F.Url.substr(0, F.Url.find_first_of("?#"));
    const size_t scheme = url.find("://"), slash = url.rfind('/');
    const bool inPath = slash != std::string::npos && (scheme == std::string::npos || slash > scheme + 2);
    base = inPath ? url.substr(0, slash + 1) : url + "/";
  }
  if (base.back() != '/') base += '/';
  const std::string address = base + Name;
  for (char c : address)
    if (static_cast<unsigned char>(c) <= ' ')
      throw Failure(F.Url + ": a patch cannot be served beside an address with blanks; give \"patch_url\"");
  return address;
}

// Both files are held in memory to make a patch, and the old one to apply it.
constexpr int64_t kLargest = int64_t{1} << 31;

// The patch Plan asks for, and the name of its format.
std::pair<std::string, const char*> MakePatch(const std::string& BasePath, const std::string& NewPath,
                                              const TPatchPlan& Plan) {
  std::string zstd, matched;
  if (Plan.Format != TPatchFormat::Matched) zstd = kelvora::delta::CreateZstdPatch(BasePath, NewPath, Plan.Level);
  if (Plan.Format != TPatchFormat::Zstd) matched = kelvora::delta::CreateMatchPatch(BasePath, NewPath, Plan.Level);
  if (Plan.Format == TPatchFormat::Zstd || (Plan.Format == TPatchFormat::Smallest && zstd.size() <= matched.size()))
    return {std::move(zstd), "zstd"};
  return {std::move(matched), "matched"};
}

struct TBase {
  std::string Path;
  kelvora::trust::TFileHash Hash;
};

}  // namespace

std::string PatchMakes(const std::string& BasePath, const std::string& PatchPath,
                       const kelvora::trust::TFileHash& Listed) {
  kelvora::trust::TSha256 made;
  const std::string reason =
      kelvora::delta::ApplyPatch(BasePath, PatchPath, Listed.Size, [&](const uint8_t* Data, size_t Size) {
        made.Update(Data, Size);
        return true;
      });
  if (!reason.empty()) return "applied to " + BasePath + ": " + reason;
  if (made.HexDigest() != Listed.Sha256)
    return "applied to " + BasePath + ", it makes another file than the listed one";
  return {};
}

void MakePatches(TRelease& R, const TPatchPlan& Plan) {
  // The older releases of each file, hashed (and so noted as inputs) first.
  for (const std::string& folder : Plan.PreviousFolders)
    if (!std::filesystem::is_directory(folder)) throw Failure(folder + ": not a folder (--previous)");
  std::map<std::string, size_t> byName;
  std::vector<std::vector<TBase>> bases(R.Files.size());
  bool any = false;
  for (size_t i = 0; i < R.Files.size(); ++i) {
    TReleaseFile& f = R.Files[i];
    if (f.Path.empty()) continue;
    std::vector<std::string> paths = f.Previous;
    if (!Plan.PreviousFolders.empty()) {
      const std::string name = BaseName(f.Path);
      if (const auto [it, fresh] = byName.emplace(name, i); !fresh)
        throw Failure("two listed files are named \"" + name +
                      "\": --previous cannot tell their older releases apart; list them as \"previous\"");
      for (const std::string& folder : Plan.PreviousFolders)
        if (IsRegularFile(folder + "/" + name)) paths.push_back(folder + "/" + name);
    }
    std::set<std::string> seen;
    for (const std::string& path : paths) {
      TBase base{path, HashFile(path)};
      if (base.Hash.Size > kLargest || f.Hash->Size > kLargest) {
        std::printf("%s: no patch from %s, a file of more than 2 GiB\n", f.Path.c_str(), path.c_str());
        continue;
      }
      if (base.Hash.Sha256 == f.Hash->Sha256) {
        std::printf("%s: unchanged since %s, no patch\n", f.Path.c_str(), path.c_str());
        continue;
      }
      if (!seen.insert(base.Hash.Sha256).second) continue;  // the same old file from another release
      bases[i].push_back(std::move(base));
      any = true;
    }
  }
  if (!any) return;
  if (Plan.Folder.empty()) throw Failure("older releases are given: --patches names the folder for the patches");

  std::error_code error;
  std::filesystem::create_directories(Plan.Folder, error);
  if (error) throw Failure(Plan.Folder + ": " + error.message());
  std::set<std::string> written;
  for (size_t i = 0; i < R.Files.size(); ++i) {
    TReleaseFile& f = R.Files[i];
    for (const TBase& base : bases[i]) {
      std::string patch;
      const char* format = nullptr;
      try {
        std::tie(patch, format) = MakePatch(base.Path, f.Path, Plan);
      } catch (const std::runtime_error& e) {
        throw Failure(std::string("the patch from ") + base.Path + ": " + e.what());
      }
      const auto size = static_cast<int64_t>(patch.size());
      if (size * kKeepDenominator >= f.Hash->Size * kKeepNumerator) {
        std::printf("%s: the patch from %s (%lld of %lld bytes) is not clearly smaller, left out\n", f.Path.c_str(),
                    base.Path.c_str(), static_cast<long long>(size), static_cast<long long>(f.Hash->Size));
        continue;
      }
      const std::string name = PatchName(f, base.Hash.Sha256);
      const std::string address = PatchAddress(R, f, name);
      // Two entries of the same file from the same old one share the patch.
      if (written.insert(name).second) {
        const std::string path = Plan.Folder + "/" + name;
        WriteFileAtomically(path, patch);
        // Checked as written, on the old file as it is now: a file that
        // changed while the run read it must not make a patch nobody can use.
        std::string problem = HashFile(base.Path).Sha256 != base.Hash.Sha256 ? base.Path + " changed meanwhile"
                                                                              : PatchMakes(base.Path, path, *f.Hash);
        if (!problem.empty()) {
          ::unlink(path.c_str());
          throw Failure(f.Path + ": the patch just made is wrong (" + problem + "); nothing was listed");
        }
      }
      f.Patches.push_back({base.Hash.Sha256, kelvora::trust::Sha256Hex(patch), size, address});
      std::printf("%s: patch from %s: %s, %lld of %lld bytes (%s)\n", f.Path.c_str(), base.Path.c_str(), name.c_str(),
                  static_cast<long long>(size), static_cast<long long>(f.Hash->Size), format);
    }
  }
}

}  // namespace publish
