// Helpers of the kvUtils tests: temporary folders, scoped environment
// variables and time zones, small file utilities.
#pragma once

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace kvtest {

// The few C library calls that differ between the systems the tests run on.
#ifdef _WIN32
inline void SetEnvVar(const char* Name, const char* Value) { ::_putenv_s(Name, Value); }
inline void UnsetEnvVar(const char* Name) { ::_putenv_s(Name, ""); }
inline time_t UtcTimeOf(struct tm* T) { return ::_mkgmtime(T); }
#else
inline void SetEnvVar(const char* Name, const char* Value) { ::setenv(Name, Value, 1); }
inline void UnsetEnvVar(const char* Name) { ::unsetenv(Name); }
inline time_t UtcTimeOf(struct tm* T) { return ::timegm(T); }
#endif

// A fresh folder in the system's temporary folder, removed with everything
// in it at the end.
class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device rd;
    for (int i = 0; i < 100 && path_.empty(); ++i) {
      const fs::path p = fs::temp_directory_path() / ("kvutils-test-" + std::to_string(rd()));
      std::error_code ec;
      if (fs::create_directory(p, ec)) path_ = p.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a test folder");
  }
  ~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Give write permission back so read-only leftovers can be removed.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
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
      SetEnvVar(Name, Value->c_str());
    else
      UnsetEnvVar(Name);
  }
  ~ScopedEnv() {
    if (old_)
      SetEnvVar(name_.c_str(), old_->c_str());
    else
      UnsetEnvVar(name_.c_str());
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
  std::error_code ec;
  return std::filesystem::symlink_status(Path, ec).type() != std::filesystem::file_type::not_found && !ec;
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
  const time_t secs = UtcTimeOf(&t);
  return static_cast<double>(secs) / 86400.0 + 25569.0;
}

inline constexpr double kHour = 1.0 / 24.0;
inline constexpr double kSecond = 1.0 / 86400.0;

}  // namespace kvtest
