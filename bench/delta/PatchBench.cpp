// Patches between successive releases of a file, in both of the component's
// formats, beside bsdiff/bspatch and xdelta3 on the same pair: the patch's
// size, the time to make it, and the time and peak memory to apply it. Each
// patch is applied in a process of its own (this program with --apply for
// the component's formats: rebuilt into a file and hashed, as the component
// does), so its peak memory is its own (measured by GNU time); the median
// time of five runs.
//
// The pairs: libcrypto.so.3 from three successive libssl3 updates in
// Debian's archive (fetched by fetch-libcrypto.sh into the cache; skipped
// with a note when the archive no longer serves them), two builds of the
// demo that differ only in a date (as built and stripped), and a made-up
// pair where code moved (addresses inside it shifted), which the demo's
// builds do not show.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "kelvora/delta/MatchPatchMaker.h"
#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/trust/Crypto.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point From) { return std::chrono::duration<double>(Clock::now() - From).count(); }

std::string ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteAll(const std::string& Path, const std::string& Bytes) {
  std::ofstream(Path, std::ios::binary | std::ios::trunc) << Bytes;
}

// --apply <old> <patch> <out> <size> <sha256>: what the component does.
int ApplyMode(char** Argv) {
  std::ofstream out(Argv[3], std::ios::binary | std::ios::trunc);
  kelvora::trust::TSha256 hash;
  const std::string reason =
      kelvora::delta::ApplyPatch(Argv[1], Argv[2], std::atoll(Argv[4]), [&](const uint8_t* Data, size_t N) {
        out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(N));
        hash.Update(Data, N);
        return static_cast<bool>(out);
      });
  out.close();
  if (!reason.empty()) std::fprintf(stderr, "apply: %s\n", reason.c_str());
  return reason.empty() && out && hash.HexDigest() == Argv[5] ? 0 : 1;
}

struct TRun {
  bool Ok = false;
  double Seconds = 0;
  double PeakMiB = 0;
};

// Runs Args (its output to /dev/null) and waits; its time and peak memory.
// The peak comes from GNU time, which starts the program from a small
// process of its own: a process started from this one (a large one by now)
// would count this one's pages up to its exec.
TRun Run(const std::vector<std::string>& Args, const std::string& PeakFile) {
  std::vector<std::string> all = {"/usr/bin/time", "-q", "-f", "%M", "-o", PeakFile};
  all.insert(all.end(), Args.begin(), Args.end());
  std::vector<char*> argv;
  for (const std::string& a : all) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  TRun r;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid) {
      r.Seconds = Seconds(start);
      r.PeakMiB = std::atof(ReadAll(PeakFile).c_str()) / 1024;  // GNU time: KiB
      r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && r.PeakMiB > 0;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

bool Installed(const char* Tool) {
  return std::system(("command -v " + std::string(Tool) + " >/dev/null 2>&1").c_str()) == 0;
}

struct TRow {
  std::string Name;
  int64_t Size = -1;  // -1: not made
  double Make = 0;
  TRun Apply;  // the median run's time, the largest peak
  std::string Note;
};

// Applies five times; the median time and the largest peak, or not Ok when
// a run failed or made another file.
TRun ApplyFive(const std::function<TRun()>& Once, const std::string& Out, const std::string& Sha256) {
  std::vector<double> times;
  TRun all{true, 0, 0};
  for (int i = 0; i < 5; ++i) {
    const TRun r = Once();
    if (!r.Ok || kelvora::trust::Sha256Hex(ReadAll(Out)) != Sha256) return {};
    times.push_back(r.Seconds);
    all.PeakMiB = std::max(all.PeakMiB, r.PeakMiB);
  }
  std::sort(times.begin(), times.end());
  all.Seconds = times[2];
  return all;
}

void Measure(const std::string& Label, const std::string& Old, const std::string& New, const fs::path& Scratch,
             const std::string& Self) {
  const std::string next = ReadAll(New);
  const std::string sha = kelvora::trust::Sha256Hex(next);
  const std::string size = std::to_string(next.size());
  const std::string patch = (Scratch / "patch").string(), out = (Scratch / "out").string();
  const std::string peak = (Scratch / "peak").string();
  std::printf("\n%s\n  old %lld bytes, new (the whole download) %zu bytes\n", Label.c_str(),
              static_cast<long long>(fs::file_size(Old)), next.size());
  std::vector<TRow> rows;
  auto ours = [&](const char* Name, auto Make, int Level) {
    TRow row;
    row.Name = std::string(Name) + " -" + std::to_string(Level);
    const auto start = Clock::now();
    const std::string bytes = Make(Old, New, Level);
    row.Make = Seconds(start);
    row.Size = static_cast<int64_t>(bytes.size());
    WriteAll(patch, bytes);
    row.Apply = ApplyFive([&] { return Run({Self, "--apply", Old, patch, out, size, sha}, peak); }, out, sha);
    rows.push_back(row);
  };
  ours("kelvora zstd", kelvora::delta::CreateZstdPatch, 19);
  ours("kelvora matched", kelvora::delta::CreateMatchPatch, 19);
  ours("kelvora zstd", kelvora::delta::CreateZstdPatch, 3);
  ours("kelvora matched", kelvora::delta::CreateMatchPatch, 3);
  auto tool = [&](const char* Name, const char* Needs, const std::vector<std::string>& Make,
                  const std::vector<std::string>& Apply) {
    TRow row;
    row.Name = Name;
    if (!Installed(Needs)) {
      row.Note = std::string(Needs) + " is not installed (scripts/deps.sh)";
    } else if (const TRun made = Run(Make, peak); !made.Ok) {
      row.Note = "failed to make the patch";
    } else {
      row.Make = made.Seconds;
      row.Size = static_cast<int64_t>(fs::file_size(patch));
      row.Apply = ApplyFive([&] { return Run(Apply, peak); }, out, sha);
    }
    rows.push_back(row);
  };
  fs::remove(patch);
  tool("bsdiff / bspatch", "bsdiff", {"bsdiff", Old, New, patch}, {"bspatch", Old, out, patch});
  fs::remove(patch);
  tool("xdelta3 -9", "xdelta3", {"xdelta3", "-9", "-f", "-e", "-s", Old, New, patch},
       {"xdelta3", "-d", "-f", "-s", Old, patch, out});

  const TRow* bsdiff = nullptr;
  for (const TRow& r : rows)
    if (r.Name.starts_with("bsdiff") && r.Size > 0 && r.Apply.Ok) bsdiff = &r;
  std::printf("  %-20s %12s %8s %8s %10s %9s %10s\n", "", "patch bytes", "/bsdiff", "make s", "apply ms",
              "/bspatch", "apply MiB");
  for (const TRow& r : rows) {
    if (r.Size < 0) {
      std::printf("  %-20s %s\n", r.Name.c_str(), r.Note.c_str());
      continue;
    }
    if (!r.Apply.Ok) {
      std::printf("  %-20s %12lld  the patch does not rebuild the new file\n", r.Name.c_str(),
                  static_cast<long long>(r.Size));
      continue;
    }
    char bySize[16] = "-", byTime[16] = "-";
    if (bsdiff != nullptr) {
      std::snprintf(bySize, sizeof bySize, "%.3f", static_cast<double>(r.Size) / static_cast<double>(bsdiff->Size));
      std::snprintf(byTime, sizeof byTime, "%.2f", r.Apply.Seconds / bsdiff->Apply.Seconds);
    }
    std::printf("  %-20s %12lld %8s %8.2f %10.1f %9s %10.1f\n", r.Name.c_str(), static_cast<long long>(r.Size), bySize,
                r.Make, r.Apply.Seconds * 1000, byTime, r.Apply.PeakMiB);
  }
  std::fflush(stdout);  // each pair as it is done, also into a file
}

// The made-up pair: records of 12 bytes of the demo's own code and a 4-byte
// address; the newer one has 40 bytes inserted in the middle, and every
// address moved by 40, as a linker does when a function grows.
void MovedCode(const std::string& Code, const std::string& OldPath, const std::string& NewPath) {
  auto build = [&](uint32_t Inserted) {
    std::string out;
    for (size_t at = 0; at + 12 <= Code.size(); at += 12) {
      if (at == Code.size() / 2 / 12 * 12) out.append(Inserted, '\x90');
      out.append(Code, at, 12);
      const uint32_t address = 0x400000 + static_cast<uint32_t>(at % 65536) + Inserted;
      for (int i = 0; i < 4; ++i) out += static_cast<char>(address >> (8 * i));
    }
    return out;
  };
  WriteAll(OldPath, build(0));
  WriteAll(NewPath, build(40));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::string(argv[1]) == "--apply") return ApplyMode(argv + 1);
  if (!kelvora::delta::PatchesSupported()) {
    std::puts("patch: this build makes no patches");
    return 0;
  }
  if (!Installed("/usr/bin/time")) {
    std::puts("patch: GNU time (/usr/bin/time) measures the peak memory; scripts/deps.sh installs it");
    return 1;
  }
  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path scratch = fs::temp_directory_path() / ("kv_bench_delta." + std::to_string(::getpid()));
  fs::create_directories(scratch);
  std::puts("Patches: the component's two formats at levels 19 and 3 beside bsdiff and xdelta3. /bsdiff is the");
  std::puts("patch's size against bsdiff's, /bspatch the time to apply against bspatch's (the component's time");
  std::puts("includes writing and hashing the file); peak memory as the applying process's largest RSS.");

  // libcrypto.so.3 of successive libssl3 updates.
  const char* home = std::getenv("HOME");
  const std::string cache = std::getenv("KELVORA_CACHE_DIR") != nullptr ? std::getenv("KELVORA_CACHE_DIR")
                            : std::getenv("XDG_CACHE_HOME") != nullptr
                                ? std::string(std::getenv("XDG_CACHE_HOME")) + "/kelvora"
                                : std::string(home != nullptr ? home : "/tmp") + "/.cache/kelvora";
  const std::vector<std::string> versions = {"3.0.17-1~deb12u2", "3.0.20-1~deb12u2", "3.0.22-1~deb12u2"};
  std::string command = "'" KV_FETCH_SCRIPT "' '" + cache + "/libcrypto'";
  for (const std::string& v : versions) command += " '" + v + "'";
  std::vector<std::string> libs;
  if (FILE* fetched = ::popen(command.c_str(), "r")) {
    char line[4096];
    while (std::fgets(line, sizeof line, fetched) != nullptr) {
      std::string l(line);
      if (!l.empty() && l.back() == '\n') l.pop_back();
      const size_t blank = l.find(' ');
      libs.push_back(blank == std::string::npos || l.substr(blank + 1) == "-" ? "" : l.substr(blank + 1));
    }
    ::pclose(fetched);
  }
  libs.resize(versions.size());
  for (size_t i = 0; i + 1 < versions.size(); ++i) {
    const std::string label = "libcrypto.so.3, libssl3 " + versions[i] + " -> " + versions[i + 1];
    if (libs[i].empty() || libs[i + 1].empty())
      std::printf("\n%s\n  skipped: the archive does not serve %s (apt-get download libssl3=<version>)\n",
                  label.c_str(), (libs[i].empty() ? versions[i] : versions[i + 1]).c_str());
    else
      Measure(label, libs[i], libs[i + 1], scratch, self);
  }

  // The demo's two builds: only a date differs.
  Measure("the demo, two builds that differ in a date (as built)", KV_OLD_BUILD, KV_NEW_BUILD, scratch, self);
  const std::string oldStripped = (scratch / "old").string(), newStripped = (scratch / "new").string();
  const std::string strip = "strip -o '" + oldStripped + "' '" KV_OLD_BUILD "' && strip -o '" + newStripped +
                            "' '" KV_NEW_BUILD "'";
  if (std::system(strip.c_str()) == 0)
    Measure("the demo, stripped", oldStripped, newStripped, scratch, self);
  else
    std::puts("\nthe demo, stripped: no strip command here");
  MovedCode(ReadAll(fs::exists(oldStripped) ? oldStripped : std::string(KV_OLD_BUILD)), (scratch / "moved-old").string(), (scratch / "moved-new").string());
  Measure("made up: the stripped demo's bytes as code with addresses, 40 bytes inserted and every address moved",
          (scratch / "moved-old").string(), (scratch / "moved-new").string(), scratch, self);
  fs::remove_all(scratch);
  return 0;
}
