// The application of the updater benchmark. Started as <path> it runs until
// <path>.release exists (at most 30 s), writes the monotonic clock to
// <path>.exit and ends at once. Started again with any parameter it writes
// the monotonic clock to <path>.start first thing.
// For the confirmation figures (set in the updater's environment, so only
// the builds the updater starts see them): KV_BENCH_CRASH makes a start with
// a parameter write <path>.crash and abort; KV_BENCH_CONFIRM_MS makes it
// confirm after that many ms; KV_BENCH_OLD_START makes a start without one
// write <path>.oldstart and end.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

long long NowNs() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void Write(const std::string& Path, long long Value) {
  const std::string tmp = Path + ".tmp";
  if (std::FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fprintf(f, "%lld\n", Value);
    std::fclose(f);
    std::rename(tmp.c_str(), Path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long long start = NowNs();
  if (argc < 1) return 2;
  const std::string self = argv[0];
  if (argc > 1) {
    Write(self + ".start", start);
    if (std::getenv("KV_BENCH_CRASH") != nullptr) {
      Write(self + ".crash", NowNs());
      std::abort();
    }
    if (const char* ms = std::getenv("KV_BENCH_CONFIRM_MS")) {
      ::usleep(static_cast<useconds_t>(std::atoi(ms)) * 1000);
      const std::string folder = self.substr(0, self.rfind('/') + 1) + "." + self.substr(self.rfind('/') + 1) + ".kelvora/";
      Write(folder + "confirmed", 1);
    }
    return 0;
  }
  if (std::getenv("KV_BENCH_OLD_START") != nullptr) {
    Write(self + ".oldstart", start);
    return 0;
  }
  struct stat st {};
  const std::string release = self + ".release";
  for (int i = 0; i < 30000 && ::stat(release.c_str(), &st) != 0; ++i) ::usleep(1000);
  Write(self + ".exit", NowNs());
  return 0;
}
