// Download benchmark: a 256 MiB file from nginx on loopback to disk with
// TkvCustomHTTP (plain loop on the UI thread): one progress event per block
// at TransferBufferSize 4096, 16384 and 65536, and ProgressInterval 50 at
// 4096 and 65536; the whole upgrade engine fetching a release of that file
// (CheckUpdates to OnEndUpgrade, the host declining the restart), without
// and with its hash listed; each against the curl tool fetching the same
// file in the same run, and the hash's own cost (sha256sum of that file)
// beside the hashed row. Then 100 small files in a row against one curl
// command fetching the same 100 addresses; then how long a forced and a
// gentle abort take while the server stalls. Each measured download runs in
// a child process of its own, so its peak RSS and CPU time are its own, and
// writes files that do not exist yet (as the programs would).
//
//   kv_bench_http [--size-mib N] [--release-mib N] [--runs N] [--small N]
//                 [--only download|engine|small|abort]
//
// KV_BENCH_RELEASE_MIB sets the release's size too (default: --size-mib).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kelvora/Application.h"
#include "kelvora/ScriptedUpgradeUI.h"
#include "kelvora/StateFolder.h"
#include "kelvora/kvHTTP.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/Crypto.h"
#include "platform/Resources.h"
#include "support/FaultServer.h"
#include "support/Nginx.h"
#include "support/TestFiles.h"

using namespace kelvora;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures {
  double Seconds = 0;
  long PeakRssKiB = 0;
  double CpuSeconds = 0;  // user + system time of the process
  long Events = 0;
  bool Ok = false;
};

// "f1000.bin" and so on.
std::string SmallName(int I) {
  char name[32];
  std::snprintf(name, sizeof name, "f%d.bin", 1000 + I);
  return name;
}

double Since(Clock::time_point T) { return std::chrono::duration<double>(Clock::now() - T).count(); }

// --- in the child: the component's downloads ---

// Downloads each URL in turn to its file; the next starts from OnDone.
int ChildDownload(const std::vector<std::string>& Urls, const std::vector<std::string>& Files, int Block,
                  int Interval) {
  Application();
  TkvCustomHTTP http(nullptr);
  http.SetTransferBufferSize(Block);
  http.SetProgressInterval(Interval);
  long events = 0;
  size_t next = 0;
  bool ok = true;
  http.OnReadProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, float,
                            TStream*) { ++events; };
  auto startNext = [&] {
    if (next == Urls.size()) {
      Application().Terminate();
      return;
    }
    http.SetURL(Urls[next]);
    http.SetOutputFileName(Files[next]);
    ++next;
    if (!http.Read(false)) ok = false;
  };
  http.OnDone = [&](TObject*, const std::string&, int64_t, TStream*) { startNext(); };
  http.OnRequestFailed = [&](TObject*) {
    ok = false;
    Application().Terminate();
  };
  const auto t0 = Clock::now();
  startNext();
  Application().Run();
  const double s = Since(t0);
  std::printf("%.6f %ld %d\n", s, events, ok ? 1 : 0);
  return ok ? 0 : 1;
}

// What an engine run staged and committed beside this program: removed so
// that no later run installs it (the parent clears before and after too).
void ClearEngineState() {
  const std::string state = StateFolder();
  std::FILE* f = std::fopen((state + "staging").c_str(), "r");
  if (f != nullptr) {
    char line[4096];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      std::string name(line);
      while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
      if (name.ends_with(".uTMP") || name.ends_with(".uPART")) ::unlink(name.c_str());
    }
    std::fclose(f);
  }
  ::unlink((state + "staging").c_str());
  ::unlink((state + "queue").c_str());
}

// One whole upgrade run of the engine with its defaults: the info file, the
// question (answered yes), the download, the completion page, the commit,
// and OnEndUpgrade, where the host declines the restart.
int ChildEngine(const std::string& InfoUrl) {
  Application();
  // A stand-in updater that ends at once: the real one would wait for this
  // program to end and install the release.
  static const char kNoUpdater[] = "#!/bin/sh\nexit 0\n";
  platform::RegisterResource("KVLOR", "KVLOR", kNoUpdater, sizeof kNoUpdater - 1);
  TkvScriptedUpgradeUI ui;
  TkvKelvora k(nullptr);
  k.SetUI(&ui);
  k.SetVersionDate("01/01/2001");
  k.SetShowMessages(0);
  k.SetInfoFileURL(InfoUrl);
  long events = 0;
  bool ok = false;
  auto fail = [&](TObject*) { Application().Terminate(); };
  k.OnProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, uint8_t, float) {
    ++events;
  };
  k.OnEndUpgrade = [&](TObject*, bool& RestartNow) {
    RestartNow = false;
    ok = true;
    Application().Terminate();
  };
  k.OnAborted = fail;
  k.OnConnLost = fail;
  k.OnNoInfoFile = fail;
  k.OnNoUpdateAvailable = fail;
  k.OnVerificationFailed = [&](TObject*, const std::string& Reason) { std::fprintf(stderr, "%s\n", Reason.c_str()); };
  const auto t0 = Clock::now();
  k.CheckUpdates(false);
  Application().Run();
  const double s = Since(t0);
  ClearEngineState();
  std::printf("%.6f %ld %d\n", s, events, ok ? 1 : 0);
  return ok ? 0 : 1;
}

// --- in the parent ---

// Runs Argv (the bench itself or curl) and reports wall time, peak RSS and,
// for the bench, the figures the child printed.
Figures RunChild(const std::vector<std::string>& Argv, bool ReadsFigures) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : Argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Figures f;
  f.Seconds = Since(t0);
  f.PeakRssKiB = ru.ru_maxrss;
  f.CpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  f.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (ReadsFigures) {
    int ok = 0;
    if (std::sscanf(out.c_str(), "%lf %ld %d", &f.Seconds, &f.Events, &ok) != 3) f.Ok = false;
  }
  return f;
}

Figures Best(const std::vector<Figures>& Runs) {
  Figures best = Runs.front();
  for (const auto& r : Runs)
    if (r.Ok && (!best.Ok || r.Seconds < best.Seconds)) best = r;
  return best;
}

void PrintRow(const char* Name, const Figures& F, double Bytes, const Figures* Curl) {
  std::printf("  %-46s %8.3f s %9.1f MiB/s %9ld KiB %7.3f s CPU", Name, F.Seconds, Bytes / F.Seconds / 1048576.0,
              F.PeakRssKiB, F.CpuSeconds);
  if (F.Events > 0) std::printf(" %7ld events", F.Events);
  if (Curl != nullptr)
    std::printf("  speed ratio %.2f  RSS ratio %.2f  CPU ratio %.2f", Curl->Seconds / F.Seconds,
                static_cast<double>(F.PeakRssKiB) / static_cast<double>(Curl->PeakRssKiB),
                Curl->CpuSeconds > 0 ? F.CpuSeconds / Curl->CpuSeconds : 0.0);
  if (!F.Ok) std::printf("  FAILED");
  std::printf("\n");
}

void AbortLatency() {
  kvtest::FaultServer server;
  for (bool force : {true, false}) {
    TkvCustomHTTP http(nullptr);
    bool progress = false, aborted = false;
    Clock::time_point abortedAt;
    http.OnReadProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, float,
                              TStream*) { progress = true; };
    http.OnTransferAborted = [&](TObject*) {
      aborted = true;
      abortedAt = Clock::now();
    };
    http.SetURL(server.Url("/stall?n=1000000&after=8000"));
    http.Read(false);
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (!progress && Clock::now() < until) {
      LoopBackend().WaitFor(nullptr, 10, TWakeMask::AnyInput);
      Application().ProcessMessages();
    }
    const auto t0 = Clock::now();
    http.Abort(false, force);
    const double returned = Since(t0);
    while (!aborted && Clock::now() < until) {
      LoopBackend().WaitFor(nullptr, 10, TWakeMask::AnyInput);
      Application().ProcessMessages();
    }
    const double event = aborted ? std::chrono::duration<double>(abortedAt - t0).count() : -1;
    std::printf("  %-46s Abort returned after %.3f ms, OnTransferAborted after %.3f ms\n",
                force ? "forced abort, server stalled" : "gentle abort, server stalled", returned * 1000, event * 1000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--engine") == 0) return ChildEngine(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "--child") == 0) {
    // --child <block> <interval> <url> <file> [<url> <file> ...]
    std::vector<std::string> urls, files;
    for (int i = 4; i + 1 < argc; i += 2) {
      urls.push_back(argv[i]);
      files.push_back(argv[i + 1]);
    }
    return ChildDownload(urls, files, std::atoi(argv[2]), std::atoi(argv[3]));
  }
  long sizeMiB = 256, releaseMiB = -1;
  int runs = 3, small = 100;
  std::string only;
  if (const char* env = std::getenv("KV_BENCH_RELEASE_MIB")) releaseMiB = std::atol(env);
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mib") == 0) sizeMiB = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--release-mib") == 0) releaseMiB = std::atol(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--small") == 0) small = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
  }
  auto wanted = [&only](const char* Section) { return only.empty() || only == Section; };
  if (releaseMiB <= 0) releaseMiB = sizeMiB;
  Application();
  const std::string self = "/proc/self/exe";
  char exe[4096] = {};
  if (readlink(self.c_str(), exe, sizeof exe - 1) <= 0) return 1;

  kvtest::TempDir dir;
  kvtest::Nginx nginx;
  const double bytes = static_cast<double>(sizeMiB) * 1048576.0;
  nginx.AddPatternFile("big.bin", static_cast<uint64_t>(bytes));
  for (int i = 0; i < small; ++i) nginx.AddPatternFile(std::string("small/").append(SmallName(i)), 16384);
  const std::string bigUrl = nginx.Url("/big.bin"), out = dir.File("big.out");

  if (wanted("download")) {
    std::printf("Download of %ld MiB from nginx on 127.0.0.1 to disk, best of %d runs\n", sizeMiB, runs);
    std::printf("  %-44s %10s %15s %13s %11s\n", "", "wall", "throughput", "peak RSS", "CPU");
    struct Variant {
      const char* Name;
      const char* Block;
      const char* Interval;
    };
    const Variant variants[] = {
        {"TkvCustomHTTP, block 4096", "4096", "0"},
        {"TkvCustomHTTP, block 16384", "16384", "0"},
        {"TkvCustomHTTP, block 65536", "65536", "0"},
        {"TkvCustomHTTP, ProgressInterval 50, block 4096", "4096", "50"},
        {"TkvCustomHTTP, ProgressInterval 50, block 65536", "65536", "50"},
    };
    constexpr int kVariants = sizeof variants / sizeof variants[0];
    std::vector<Figures> curlRuns, variantRuns[kVariants];
    for (int r = 0; r < runs; ++r) {
      ::unlink(out.c_str());
      curlRuns.push_back(RunChild({"curl", "-s", "-o", out, bigUrl}, false));
      for (int v = 0; v < kVariants; ++v) {
        ::unlink(out.c_str());
        variantRuns[v].push_back(
            RunChild({exe, "--child", variants[v].Block, variants[v].Interval, bigUrl, out}, true));
      }
    }
    const Figures curl = Best(curlRuns);
    PrintRow("curl command-line tool", curl, bytes, nullptr);
    for (int v = 0; v < kVariants; ++v) PrintRow(variants[v].Name, Best(variantRuns[v]), bytes, &curl);
    ::unlink(out.c_str());
  }

  // The engine: a whole upgrade run fetching one file of the release's size
  // (the same file for both rows), curl fetching that file in the same run.
  if (wanted("engine")) {
    const uint64_t releaseBytes = static_cast<uint64_t>(releaseMiB) * 1048576u;
    if (releaseMiB != sizeMiB) nginx.AddPatternFile("release.bin", releaseBytes);
    const std::string releaseUrl = releaseMiB != sizeMiB ? nginx.Url("/release.bin") : bigUrl;
    trust::TSha256 sha;
    for (uint64_t at = 0; at < releaseBytes; at += 1048576u) {
      const std::string piece = kvtest::PatternBytes(at, std::min<uint64_t>(1048576u, releaseBytes - at));
      sha.Update(piece.data(), piece.size());
    }
    const std::string head =
        "#date=12/31/2099\n#message={A release.}\n#url1=" + releaseUrl + "=" + dir.File("prog.bin") + "\n";
    nginx.AddTextFile("plain.txt", head);
    nginx.AddTextFile("hashed.txt",
                      head + "#hash1=sha256:" + sha.HexDigest() + " " + std::to_string(releaseBytes) + "\n");
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", dir.Path().c_str(), 1);  // the stand-in updater goes there
    ClearEngineState();
    const std::string releaseOut = dir.File("release.out");
    const std::string releaseFile = nginx.Root() + (releaseMiB != sizeMiB ? "/release.bin" : "/big.bin");
    std::vector<Figures> curlRelease, plainRuns, hashedRuns, hashAlone, hashOpenssl;
    for (int r = 0; r < runs; ++r) {
      ::unlink(releaseOut.c_str());
      curlRelease.push_back(RunChild({"curl", "-s", "-o", releaseOut, releaseUrl}, false));
      plainRuns.push_back(RunChild({exe, "--engine", nginx.Url("/plain.txt")}, true));
      hashedRuns.push_back(RunChild({exe, "--engine", nginx.Url("/hashed.txt")}, true));
      hashAlone.push_back(RunChild({"sha256sum", releaseFile}, false));
      hashOpenssl.push_back(RunChild({"openssl", "dgst", "-sha256", releaseFile}, false));
    }
    ClearEngineState();
    ::unlink(releaseOut.c_str());
    const double rb = static_cast<double>(releaseBytes);
    std::printf(
        "\nUpgrade run of the engine (info file, question, download, commit, OnEndUpgrade), %ld MiB, best of %d runs\n",
        releaseMiB, runs);
    const Figures cr = Best(curlRelease);
    PrintRow("curl command-line tool", cr, rb, nullptr);
    const std::string plainName = "TkvKelvora, release of " + std::to_string(releaseMiB) + " MiB";
    PrintRow(plainName.c_str(), Best(plainRuns), rb, &cr);
    const Figures hashed = Best(hashedRuns), alone = Best(hashOpenssl);
    PrintRow((plainName + ", hashed").c_str(), hashed, rb, &cr);
    PrintRow("sha256sum of the same file (the hash alone)", Best(hashAlone), rb, nullptr);
    PrintRow("openssl dgst -sha256, same file and library", alone, rb, nullptr);
    // The hashed row's CPU against what it may cost: curl's, 20% more, and
    // the hash itself, as the library we hash with computes it (coreutils'
    // sha256sum is several times slower and would make the budget lax).
    std::printf("  %-46s %.3f s of a budget of %.3f s (1.2 x curl + openssl dgst): %.2f\n", "hashed release, CPU",
                hashed.CpuSeconds, 1.2 * cr.CpuSeconds + alone.CpuSeconds,
                hashed.CpuSeconds / (1.2 * cr.CpuSeconds + alone.CpuSeconds));
  }

  if (wanted("small")) {
    std::printf("\n%d files of 16 KiB from the same host in a row, best of %d runs\n", small, runs);
    std::vector<std::string> curlArgs = {"curl", "-s"};
    std::vector<std::string> childArgs = {exe, "--child", "4096", "50"};
    for (int i = 0; i < small; ++i) {
      const std::string name = SmallName(i);
      const std::string url = nginx.Url(std::string("/small/").append(name));
      curlArgs.insert(curlArgs.end(), {url, "-o", dir.File(name)});
      childArgs.insert(childArgs.end(), {url, dir.File(name)});
    }
    std::vector<std::string> partsArgs = childArgs;
    partsArgs[3] = "0";
    std::vector<Figures> curlSmall, kSmall, kSmallParts;
    auto clearSmall = [&] {
      for (int i = 0; i < small; ++i) ::unlink(dir.File(SmallName(i)).c_str());
    };
    for (int r = 0; r < runs; ++r) {
      clearSmall();
      curlSmall.push_back(RunChild(curlArgs, false));
      clearSmall();
      kSmall.push_back(RunChild(childArgs, true));
      clearSmall();
      kSmallParts.push_back(RunChild(partsArgs, true));
    }
    clearSmall();
    const double smallBytes = 16384.0 * small;
    const Figures cs = Best(curlSmall);
    PrintRow("curl, one command", cs, smallBytes, nullptr);
    PrintRow("TkvCustomHTTP, one per OnDone", Best(kSmall), smallBytes, &cs);
    PrintRow("TkvCustomHTTP, one per OnDone, interval 0", Best(kSmallParts), smallBytes, &cs);
  }

  if (wanted("abort")) {
    std::printf("\nAbort while the fault server stalls mid-body\n");
    AbortLatency();
  }
  return 0;
}
