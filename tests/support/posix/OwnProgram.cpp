#include "support/OwnProgram.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support/TestFiles.h"
#include "support/TestProcess.h"

namespace kvtest {

namespace {
constexpr const char* kCopyMark = "KVTEST_OWN_PROGRAM";
}

bool RanInOwnProgram() {
  if (std::getenv(kCopyMark) != nullptr) return false;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    ADD_FAILURE() << "cannot find this test program";
    return true;
  }
  const std::string program(self, static_cast<size_t>(n));
  TempDir dir;
  const std::string copy = dir.File(program.substr(program.rfind('/') + 1));
  WriteTextFile(copy, ReadWholeFile(program));
  ::chmod(copy.c_str(), 0755);
  ::setenv(kCopyMark, "1", 1);
  const int status = RunCommand(
      {copy, std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()}, dir.File("run.log"));
  ::unsetenv(kCopyMark);
  EXPECT_EQ(status, 0) << ReadWholeFile(dir.File("run.log"));
  return true;
}

}  // namespace kvtest
