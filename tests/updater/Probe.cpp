// A small stand-in program for the updater tests. Started as <path> [args],
// it writes <path>.started: one line per argument, then "nice=<n>" (its
// priority). With KV_PROBE_HOLD set it then keeps running until
// <path>.release exists (at most 60 s), so that its file stays in use.
// KV_PROBE_IMMUTABLE names a file it first makes immutable (chattr +i), as
// something outside the upgrade might while a new release runs.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (argc < 1) return 2;
  const std::string self = argv[0];
  if (const char* pin = std::getenv("KV_PROBE_IMMUTABLE"); pin != nullptr && *pin != '\0')
    if (std::system(("chattr +i '" + std::string(pin) + "'").c_str()) != 0) return 4;
  std::string text;
  for (int i = 1; i < argc; ++i) text += std::string(argv[i]) + "\n";
  errno = 0;
  text += "nice=" + std::to_string(getpriority(PRIO_PROCESS, 0)) + "\n";
  const std::string tmp = self + ".started.tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "w")) {
    std::fputs(text.c_str(), f);
    std::fclose(f);
    std::rename(tmp.c_str(), (self + ".started").c_str());
  }
  const char* hold = std::getenv("KV_PROBE_HOLD");
  if (hold == nullptr || *hold == '\0') return 0;
  const std::string release = self + ".release";
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  struct stat st {};
  while (::stat(release.c_str(), &st) != 0) {
    if (std::chrono::steady_clock::now() > end) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return 0;
}
