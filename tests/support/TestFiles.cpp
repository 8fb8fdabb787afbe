#include "support/TestFiles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kvtest {

std::string RandomBytes(size_t N, unsigned Seed) {
  std::mt19937 gen(Seed);
  std::string s(N, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

namespace {
constexpr uint32_t kPeriod = 65521;

const std::vector<uint8_t>& Period() {
  static const std::vector<uint8_t> table = [] {
    std::vector<uint8_t> t(kPeriod);
    for (uint32_t j = 0; j < kPeriod; ++j) t[j] = static_cast<uint8_t>((j * 2654435761u) >> 24);
    return t;
  }();
  return table;
}
}  // namespace

TempDir::TempDir() : path_(MakePrivateFolder()) {}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files and folders are removed too.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec); !ec && it != std::filesystem::end(it); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

uint8_t PatternByte(uint64_t I) { return Period()[I % kPeriod]; }

std::string PatternBytes(uint64_t From, uint64_t Count) {
  std::string s(Count, '\0');
  const auto& t = Period();
  for (uint64_t i = 0; i < Count; ++i) s[i] = static_cast<char>(t[(From + i) % kPeriod]);
  return s;
}

void WritePatternFile(const std::string& Path, uint64_t Size) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  const auto& t = Period();
  uint64_t pos = 0;
  while (pos < Size) {
    const uint64_t off = pos % kPeriod;
    const uint64_t take = std::min<uint64_t>(kPeriod - off, Size - pos);
    f.write(reinterpret_cast<const char*>(t.data() + off), static_cast<std::streamsize>(take));
    pos += take;
  }
  if (!f) throw std::runtime_error("cannot write " + Path);
}

void WriteTextFile(const std::string& Path, const std::string& Text) {
  std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f << Text;
  if (!f) throw std::runtime_error("cannot write " + Path);
}

std::string ReadWholeFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool FileExists(const std::string& Path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(Path), ec);
}

bool FileHoldsPattern(const std::string& Path, uint64_t Size) {
  std::ifstream f(Path, std::ios::binary);
  if (!f) return false;
  std::vector<char> buf(1 << 16);
  uint64_t pos = 0;
  const auto& t = Period();
  while (f) {
    f.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto n = static_cast<uint64_t>(f.gcount());
    for (uint64_t i = 0; i < n; ++i)
      if (static_cast<uint8_t>(buf[i]) != t[(pos + i) % kPeriod]) return false;
    pos += n;
  }
  return pos == Size;
}

}  // namespace kvtest
