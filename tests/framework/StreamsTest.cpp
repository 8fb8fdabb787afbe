#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "kelvora/Streams.h"

using namespace kelvora;

TEST(MemoryStream, PresizedStreamKeepsPositionAndExposesStorage) {
  TMemoryStream m;
  m.SetSize(10);
  EXPECT_EQ(m.Position(), 0);
  EXPECT_EQ(m.Size(), 10);
  m.WriteBuffer("abc", 3);
  EXPECT_EQ(m.Size(), 10);  // writing inside the pre-sized area does not grow it
  EXPECT_EQ(std::memcmp(m.Memory(), "abc", 3), 0);
  m.SetSize(2);  // shrinking pulls the position back
  EXPECT_EQ(m.Position(), 2);
  m.Seek(0, soEnd);
  m.WriteBuffer("de", 2);
  EXPECT_EQ(m.ToString(), "abde");
}

TEST(MemoryStream, GrowsBlockByBlockAndReadsBack) {
  TMemoryStream m;
  std::string block(4096, 'x');
  for (int i = 0; i < 300; ++i) m.WriteBuffer(block.data(), 4096);
  EXPECT_EQ(m.Size(), 300 * 4096);
  EXPECT_GE(m.Capacity(), m.Size());
  m.SetPosition(0);
  char c[4096];
  EXPECT_EQ(m.Read(c, 4096), 4096);
  m.Seek(0, soEnd);
  EXPECT_THROW(m.ReadBuffer(c, 1), EReadError);
}

TEST(FileStream, WritesReadsAndReportsOpenErrors) {
  auto dir = std::filesystem::temp_directory_path() / ("kvstream" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string name = (dir / "f.bin").string();
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("hello", 5);
    f.SetSize(4);
  }
  TMemoryStream m;
  m.LoadFromFile(name);
  EXPECT_EQ(m.ToString(), "hell");
  EXPECT_THROW(TFileStream((dir / "missing").string(), fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream((dir / "no" / "such" / "dir").string(), fmCreate), EFCreateError);
  std::filesystem::remove_all(dir);
}
