// Helpers of the kvUtils tests: temporary folders, scoped environment
// variables and time zones, small file utilities.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace kvtest {

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kvutils-test-XXXXXX";
    const char* p = ::mkdtemp(tmpl);
    if (p == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = p;
  }
  ~TempDir() {
    std::error_code ec;
    // Give write permission back so read-only leftovers can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      ::chmod(it->path().c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& Name) const { return path_ + "/" + Name; }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* Name, std::optional<std::string> Value) : name_(Name) {
    if (const char* old = std::getenv(Name)) old_ = old;
    if (Value)
      ::setenv(Name, Value->c_str(), 1);
    else
      ::unsetenv(Name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
    ::tzset();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The time zone for a scope (POSIX TZ strings need no time-zone data).
class ScopedTZ {
 public:
  explicit ScopedTZ(const std::string& Value) : env_("TZ", Value) { ::tzset(); }

 private:
  ScopedEnv env_;
};

inline void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out << Text;
}

inline std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool Exists(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0;
}

// Waits up to TimeoutMs for Path to exist and hold a complete line.
inline std::string WaitForFileLine(const std::string& Path, int TimeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    std::string s = ReadFile(Path);
    if (!s.empty() && s.back() == '\n') return s.substr(0, s.size() - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::string();
}

// TDateTime of a civil date and time (UTC fields).
inline double DateTimeOf(int Y, int M, int D, int h = 0, int m = 0, int s = 0) {
  struct tm t {};
  t.tm_year = Y - 1900;
  t.tm_mon = M - 1;
  t.tm_mday = D;
  t.tm_hour = h;
  t.tm_min = m;
  t.tm_sec = s;
  const time_t secs = ::timegm(&t);
  return static_cast<double>(secs) / 86400.0 + 25569.0;
}

inline constexpr double kHour = 1.0 / 24.0;
inline constexpr double kSecond = 1.0 / 86400.0;

}  // namespace kvtest
