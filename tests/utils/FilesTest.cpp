// Files and folders, attributes, times and resources.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "UtilsTestSupport.h"
#include "kelvora/Streams.h"
#include "kelvora/kvUtils.h"
#include "platform/Resources.h"

using namespace kelvora;
using kvtest::DateTimeOf;
using kvtest::kSecond;
using kvtest::ScopedTZ;
using kvtest::TempDir;
using kvtest::WriteFile;

namespace {

struct stat StatOf(const std::string& Path) {
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  return st;
}

// The user.DOSATTRIB text, "" when absent; nullopt when the file system has
// no user extended attributes.
std::optional<std::string> DosAttrib(const std::string& Path) {
  char buf[64];
  ssize_t n = ::getxattr(Path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
  if (n >= 0) return std::string(buf, static_cast<size_t>(n));
  if (errno == ENODATA) return std::string();
  return std::nullopt;
}

bool XattrsSupported(const std::string& Dir) {
  const std::string probe = Dir + "/.xattr-probe";
  WriteFile(probe, "");
  const bool ok = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
  ::unlink(probe.c_str());
  return ok;
}

}  // namespace

TEST(FolderExists, OnlyForFolders) {
  TempDir dir;
  WriteFile(dir / "f", "x");
  ASSERT_EQ(::symlink(dir.Path().c_str(), (dir / "dirlink").c_str()), 0);
  EXPECT_TRUE(FolderExists(dir.Path()));
  EXPECT_TRUE(FolderExists(dir.Path() + "/"));
  EXPECT_TRUE(FolderExists(dir / "dirlink"));
  EXPECT_FALSE(FolderExists(dir / "f"));
  EXPECT_FALSE(FolderExists(dir / "missing"));
  EXPECT_FALSE(FolderExists(""));
}

TEST(ForceFolders, CreatesThreeNewLevelsInOrder) {
  TempDir dir;
  ForceFolders(dir / "a/b/c/file.txt");
  EXPECT_TRUE(FolderExists(dir / "a"));
  EXPECT_TRUE(FolderExists(dir / "a/b"));
  EXPECT_TRUE(FolderExists(dir / "a/b/c"));
  EXPECT_FALSE(kvtest::Exists(dir / "a/b/c/file.txt"));
}

TEST(ForceFolders, ExistingFoldersAndOddNamesAreFine) {
  TempDir dir;
  ForceFolders(dir / "x/");
  EXPECT_TRUE(FolderExists(dir / "x"));
  EXPECT_NO_THROW(ForceFolders(dir / "x/y.txt"));
  EXPECT_NO_THROW(ForceFolders("no-folder-part.txt"));
  EXPECT_NO_THROW(ForceFolders(""));
  EXPECT_NO_THROW(ForceFolders("/"));
  ForceFolders(dir / "p//q/r.txt");
  EXPECT_TRUE(FolderExists(dir / "p/q"));
  // A file in the way: the deeper folders cannot be made, and nothing is
  // reported.
  WriteFile(dir / "file", "x");
  EXPECT_NO_THROW(ForceFolders(dir / "file/sub/z.txt"));
  EXPECT_FALSE(FolderExists(dir / "file/sub"));
}

TEST(FileSizeOf, SixtyFourBitSizes) {
  TempDir dir;
  WriteFile(dir / "small", "12345");
  EXPECT_EQ(FileSizeOf(dir / "small"), 5);
  WriteFile(dir / "empty", "");
  EXPECT_EQ(FileSizeOf(dir / "empty"), 0);
  const int fd = ::open((dir / "big").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 5LL << 30), 0);  // sparse 5 GiB
  ::close(fd);
  EXPECT_EQ(FileSizeOf(dir / "big"), 5LL << 30);
  EXPECT_EQ(FileSizeOf(dir / "missing"), -1);
  EXPECT_EQ(FileSizeOf(dir.Path()), -1);
}

TEST(SetFileTimes, AllMinusOneRewritesTheTimesUnchanged) {
  TempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  struct timespec t[2] = {{1200000000, 123456789}, {1300000000, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), t, 0), 0);
  EXPECT_TRUE(SetFileTimes(f, -1, -1, -1));
  const auto st = StatOf(f);
  EXPECT_EQ(st.st_atim.tv_sec, 1200000000);
  EXPECT_EQ(st.st_atim.tv_nsec, 123456789);
  EXPECT_EQ(st.st_mtim.tv_sec, 1300000000);
  EXPECT_EQ(st.st_mtim.tv_nsec, 987654321);
}

TEST(SetFileTimes, TwoSecondStepsInLocalTime) {
  ScopedTZ tz("XST-2");  // two hours east of UTC
  TempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  struct timespec t[2] = {{1200000000, 0}, {1200000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), t, 0), 0);
  // 6 Nov 1994 08:49:37 local time, seconds rounded down to even.
  EXPECT_TRUE(SetFileTimes(f, 0, DateTimeOf(1994, 11, 6, 8, 49, 37) + 0.4 * kSecond, -1));
  auto st = StatOf(f);
  EXPECT_EQ(st.st_mtim.tv_sec, 784104576);  // 1994-11-06 06:49:36 UTC
  EXPECT_EQ(st.st_mtim.tv_nsec, 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1200000000);  // Accessed -1 keeps it
  EXPECT_TRUE(SetFileTimes(f, -1, -1, DateTimeOf(2020, 2, 29, 23, 59, 59)));
  st = StatOf(f);
  EXPECT_EQ(st.st_atim.tv_sec, 1583013598);  // 2020-02-29 21:59:58 UTC
  EXPECT_EQ(st.st_mtim.tv_sec, 784104576);
}

TEST(SetFileTimes, DatesOutsideTheFatRangeKeepTheOldTime) {
  ScopedTZ tz("UTC0");
  TempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  struct timespec t[2] = {{1200000000, 0}, {1300000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), t, 0), 0);
  EXPECT_TRUE(SetFileTimes(f, -1, DateTimeOf(1979, 12, 31, 23, 59, 59), DateTimeOf(2108, 1, 1)));
  auto st = StatOf(f);
  EXPECT_EQ(st.st_atim.tv_sec, 1200000000);
  EXPECT_EQ(st.st_mtim.tv_sec, 1300000000);
  EXPECT_TRUE(SetFileTimes(f, -1, DateTimeOf(1980, 1, 1), DateTimeOf(2107, 12, 31, 23, 59, 59)));
  st = StatOf(f);
  EXPECT_EQ(st.st_mtim.tv_sec, 315532800);
  EXPECT_EQ(st.st_atim.tv_sec, 4354819198);
  EXPECT_TRUE(SetFileTimes(f, -1, std::nan(""), 1e300));
  st = StatOf(f);
  EXPECT_EQ(st.st_mtim.tv_sec, 315532800);
}

TEST(SetFileTimes, FalseWhenTheFileCannotBeOpenedForWriting) {
  TempDir dir;
  EXPECT_FALSE(SetFileTimes(dir / "missing", -1, DateTimeOf(2000, 1, 1), -1));
  EXPECT_FALSE(SetFileTimes(dir.Path(), -1, DateTimeOf(2000, 1, 1), -1));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(SetFileTimes(dir / "fifo", -1, DateTimeOf(2000, 1, 1), -1));  // and does not block
}

TEST(FileAttributes, BitsOfTheSet) {
  EXPECT_EQ(FileAttributeBits({}), 0u);
  EXPECT_EQ(FileAttributeBits({atrArchive}), 0x20u);
  EXPECT_EQ(FileAttributeBits({atrHidden}), 0x2u);
  EXPECT_EQ(FileAttributeBits({atrReadOnly}), 0x1u);
  EXPECT_EQ(FileAttributeBits({atrSystem}), 0x4u);
  EXPECT_EQ(FileAttributeBits({atrTemporary}), 0x100u);
  EXPECT_EQ(FileAttributeBits({atrOffline}), 0x1000u);
  EXPECT_EQ(FileAttributeBits({atrArchive, atrHidden, atrReadOnly, atrSystem, atrTemporary, atrOffline}), 0x1127u);
  EXPECT_EQ(FileAttributesFromBits(0x1127), (TkvFileAttributes{atrArchive, atrHidden, atrReadOnly, atrSystem,
                                                                atrTemporary, atrOffline}));
  EXPECT_EQ(FileAttributesFromBits(0x10 | 0x80), TkvFileAttributes{});
  TkvFileAttributes s{atrHidden};
  EXPECT_EQ(s.Byte(), 0x2);
  s.Include(atrOffline);
  EXPECT_TRUE(s.Contains(atrOffline));
  s.Exclude(atrHidden);
  EXPECT_EQ(s, TkvFileAttributes{atrOffline});
}

TEST(ApplyFileAttributes, ReadOnlyIsTheWriteBits) {
  TempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  ASSERT_EQ(::chmod(f.c_str(), 0664), 0);
  EXPECT_TRUE(ApplyFileAttributes(f, {atrReadOnly, atrArchive}));
  EXPECT_EQ(StatOf(f).st_mode & 07777, 0444u);
  EXPECT_TRUE(ApplyFileAttributes(f, {atrArchive}));
  EXPECT_EQ(StatOf(f).st_mode & 07777, 0644u);
}

TEST(ApplyFileAttributes, TheWholeSetIsKeptInDosAttrib) {
  TempDir dir;
  if (!XattrsSupported(dir.Path())) GTEST_SKIP() << "no user extended attributes on " << dir.Path();
  const std::string f = dir / "f";
  WriteFile(f, "x");
  EXPECT_TRUE(ApplyFileAttributes(f, {atrArchive, atrHidden}));
  EXPECT_EQ(DosAttrib(f), "0x22");
  EXPECT_TRUE(ApplyFileAttributes(f, {atrTemporary, atrOffline, atrReadOnly}));
  EXPECT_EQ(DosAttrib(f), "0x1101");
  EXPECT_EQ(StatOf(f).st_mode & 0222, 0u);
  // The empty set clears every bit.
  EXPECT_TRUE(ApplyFileAttributes(f, {}));
  EXPECT_EQ(DosAttrib(f), "");
  EXPECT_NE(StatOf(f).st_mode & S_IWUSR, 0u);
  EXPECT_TRUE(ApplyFileAttributes(f, {}));  // nothing to remove: still fine
  // Read back as applied.
  TkvFileAttributes read;
  EXPECT_TRUE(ApplyFileAttributes(f, {atrHidden, atrTemporary, atrReadOnly}));
  ASSERT_TRUE(ReadFileAttributes(f, read));
  EXPECT_EQ(read, (TkvFileAttributes{atrHidden, atrTemporary, atrReadOnly}));
  EXPECT_FALSE(ReadFileAttributes(dir / "missing", read));
}

TEST(ApplyFileAttributes, FalseForAMissingFile) {
  TempDir dir;
  EXPECT_FALSE(ApplyFileAttributes(dir / "missing", {atrArchive}));
}

TEST(ApplyFileAttributes, WorksForAnOrdinaryOwnerOfAReadOnlyFile) {
  // A user attribute can only be written to a writable file; as root that
  // does not show, so the check runs as another user.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
  TempDir dir;
  if (!XattrsSupported(dir.Path())) GTEST_SKIP() << "no user extended attributes";
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const std::string f = dir / "f";
  WriteFile(f, "x");
  ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    if (!ApplyFileAttributes(f, {atrReadOnly})) ::_exit(11);
    if (!ApplyFileAttributes(f, {atrReadOnly, atrHidden})) ::_exit(12);
    if (!ApplyFileAttributes(f, {atrArchive})) ::_exit(13);
    if (!ApplyFileAttributes(f, {atrReadOnly})) ::_exit(14);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(DosAttrib(f), "0x1");
  EXPECT_EQ(StatOf(f).st_mode & 0222, 0u);
}

namespace {
class TRefusingStream : public TMemoryStream {
 public:
  int64_t Write(const void*, int64_t) override { return 0; }
};
}  // namespace

TEST(SaveResourceToStream, WritesTheBytesAtThePosition) {
  static const char kBytes[] = "MZ\x90\x00payload";
  platform::RegisterResource("KVLOR", "KVLOR", kBytes, sizeof kBytes - 1);
  TMemoryStream s;
  s.WriteBuffer("head", 4);
  s.SetPosition(2);
  EXPECT_TRUE(SaveResourceToStream(HInstance, "kvlor", "Kvlor", &s));
  EXPECT_EQ(s.Size(), 2 + static_cast<int64_t>(sizeof kBytes - 1));
  EXPECT_EQ(std::memcmp(s.Memory(), "he", 2), 0);
  EXPECT_EQ(std::memcmp(s.Memory() + 2, kBytes, sizeof kBytes - 1), 0);
  platform::UnregisterResource("KVLOR", "KVLOR");
}

TEST(SaveResourceToStream, FalseWhenMissingEmptyOrNotWritable) {
  static const char kBytes[] = "abc";
  TMemoryStream s;
  EXPECT_FALSE(SaveResourceToStream(HInstance, "NOPE", "KVLOR", &s));
  platform::RegisterResource("EMPTY", "KVLOR", kBytes, 0);
  EXPECT_FALSE(SaveResourceToStream(HInstance, "EMPTY", "KVLOR", &s));
  platform::RegisterResource("ABC", "DATA", kBytes, 3);
  EXPECT_FALSE(SaveResourceToStream(HInstance, "ABC", "DATA", nullptr));
  EXPECT_FALSE(SaveResourceToStream(HInstance, "ABC", "KVLOR", &s));  // another type
  TRefusingStream refusing;
  EXPECT_FALSE(SaveResourceToStream(HInstance, "ABC", "DATA", &refusing));
  EXPECT_EQ(s.Size(), 0);
  EXPECT_TRUE(SaveResourceToStream(HInstance, "abc", "data", &s));
  EXPECT_EQ(s.ToString(), "abc");
  platform::UnregisterResource("EMPTY", "KVLOR");
  platform::UnregisterResource("ABC", "DATA");
}

TEST(SaveResourceToStream, IntoAFile) {
  static const char kBytes[] = "#!/bin/sh\necho updater\n";
  platform::RegisterResource("UPD", "BIN", kBytes, sizeof kBytes - 1);
  TempDir dir;
  {
    TFileStream f(dir / "AppUpdate", fmCreate);
    EXPECT_TRUE(SaveResourceToStream(HInstance, "UPD", "BIN", &f));
  }
  EXPECT_EQ(kvtest::ReadFile(dir / "AppUpdate"), kBytes);
  platform::UnregisterResource("UPD", "BIN");
}
