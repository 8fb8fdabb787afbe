// Files for tests: a private temporary folder removed with its contents, the
// byte pattern the test servers serve, and small file helpers.
#pragma once

#include <cstdint>
#include <string>

namespace kvtest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder, without a trailing "/".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& Name) const { return path_ + "/" + Name; }

 private:
  std::string path_;
};

// A new folder only this user may enter, under TMPDIR or the system's
// temporary folder; its path without a trailing separator.
std::string MakePrivateFolder();
// Path as the programs of this system see it: the same on Linux; under Wine
// a path of the drive that maps the root ("Z:/tmp/x") becomes "/tmp/x".
std::string NativePath(const std::string& Path);

// Byte I of the endless pattern of the fault server (and of the files the
// nginx fixture generates): a pseudo-random sequence with period 65521.
uint8_t PatternByte(uint64_t I);
// Bytes From..From+Count-1 of the pattern.
std::string PatternBytes(uint64_t From, uint64_t Count);
// N bytes of a seeded pseudo-random sequence (the same for the same seed).
std::string RandomBytes(size_t N, unsigned Seed);
// Writes Size pattern bytes to Path (creating its folders).
void WritePatternFile(const std::string& Path, uint64_t Size);
void WriteTextFile(const std::string& Path, const std::string& Text);
std::string ReadWholeFile(const std::string& Path);
bool FileExists(const std::string& Path);
// True when the file holds exactly the pattern bytes 0..Size-1.
bool FileHoldsPattern(const std::string& Path, uint64_t Size);

}  // namespace kvtest
