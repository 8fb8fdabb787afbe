// The application of the updater benchmark. Started as <path> it runs until
// <path>.release exists (at most 30 s), writes the monotonic clock to
// <path>.exit and ends at once. Started again with any parameter it writes
// the monotonic clock to <path>.start first thing.
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
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
    return 0;
  }
  struct stat st {};
  const std::string release = self + ".release";
  for (int i = 0; i < 30000 && ::stat(release.c_str(), &st) != 0; ++i) ::usleep(1000);
  Write(self + ".exit", NowNs());
  return 0;
}
