// A patch from one build of the demo program to the next (the released demo
// and its newer build, as scripts/demo.sh serves them): the full size, the
// patch's size at the quick and at the smallest level, the time to make it,
// and the time to apply it the way the component does (rebuilt into a file
// and hashed). The builds as compiled (with debug information) and stripped
// (as usually shipped).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/trust/Crypto.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point From) { return std::chrono::duration<double>(Clock::now() - From).count(); }

std::string ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Applies the patch into Out and hashes what it makes; the seconds taken,
// or a negative number when the result is not the new build.
double ApplyOnce(const std::string& Old, const std::string& Patch, const std::string& Out, int64_t Size,
                 const std::string& Sha256) {
  const auto start = Clock::now();
  std::ofstream out(Out, std::ios::binary | std::ios::trunc);
  kelvora::trust::TSha256 hash;
  const std::string reason = kelvora::delta::ApplyPatch(Old, Patch, Size, [&](const uint8_t* Data, size_t N) {
    out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(N));
    hash.Update(Data, N);
    return static_cast<bool>(out);
  });
  out.close();
  const double taken = Seconds(start);
  if (!reason.empty()) std::printf("    apply failed: %s\n", reason.c_str());
  return reason.empty() && hash.HexDigest() == Sha256 ? taken : -1;
}

void Measure(const char* Label, const std::string& Old, const std::string& New, const fs::path& Scratch) {
  const std::string next = ReadAll(New);
  const std::string sha = kelvora::trust::Sha256Hex(next);
  const auto size = static_cast<int64_t>(next.size());
  std::printf("  %s: old %lld bytes, new (full download) %lld bytes\n", Label,
              static_cast<long long>(fs::file_size(Old)), static_cast<long long>(size));
  for (const int level : {3, 19}) {
    const auto start = Clock::now();
    const std::string patch = kelvora::delta::CreatePatch(Old, New, level);
    const double made = Seconds(start);
    const std::string patchPath = (Scratch / "patch").string();
    std::ofstream(patchPath, std::ios::binary | std::ios::trunc) << patch;
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) runs.push_back(ApplyOnce(Old, patchPath, (Scratch / "made").string(), size, sha));
    std::sort(runs.begin(), runs.end());
    if (runs.front() < 0) {
      std::printf("    level %2d: the patch does not rebuild the new build\n", level);
      continue;
    }
    std::printf("    level %2d: patch %zu bytes (%.3f %% of the full size), made in %.2f s, applied in %.1f ms "
                "(median of 5, written and hashed)\n",
                level, patch.size(), 100.0 * static_cast<double>(patch.size()) / static_cast<double>(size), made,
                runs[runs.size() / 2] * 1000);
  }
}

}  // namespace

int main() {
  if (!kelvora::delta::PatchesSupported()) {
    std::puts("patch: this build makes no patches");
    return 0;
  }
  const fs::path scratch = fs::temp_directory_path() / ("kv_bench_delta." + std::to_string(::getpid()));
  fs::create_directories(scratch);
  std::puts("patch between two successive builds of the demo (kelvora-demo, then kelvora-demo-next: the same");
  std::puts("program with a later release date compiled in)");
  Measure("as built", KV_OLD_BUILD, KV_NEW_BUILD, scratch);
  const std::string oldStripped = (scratch / "old").string(), newStripped = (scratch / "new").string();
  const std::string strip = "strip -o '" + oldStripped + "' '" KV_OLD_BUILD "' && strip -o '" + newStripped +
                            "' '" KV_NEW_BUILD "'";
  if (std::system(strip.c_str()) == 0)
    Measure("stripped", oldStripped, newStripped, scratch);
  else
    std::puts("  stripped: no strip command here");
  fs::remove_all(scratch);
  return 0;
}
