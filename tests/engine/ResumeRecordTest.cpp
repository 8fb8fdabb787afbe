// The resume record as read back after a crash or a hostile edit, and the
// choice of the validator that guards a continued range.
#include <gtest/gtest.h>

#include "kelvora/DownloadResume.h"
#include "support/TestFiles.h"
#include "updater/ResumeRecord.h"

using namespace kelvora;
using namespace kvtest;

TEST(ResumeRecord, OnlyWellFormedEntriesAreReadBackAndNothingElseIsWritten) {
  TempDir dir;
  const std::string state = dir.Path() + "/";
  const std::string sha(64, 'a');
  const updater::TResumeEntry good{dir.File("a.bin.uPART"), "http://h/a.bin", sha, 70000, "\"v1\""};
  ASSERT_TRUE(updater::WriteResume(state, {good}));
  auto read = updater::ReadResume(state);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].Part, good.Part);
  EXPECT_EQ(read[0].Size, 70000);
  EXPECT_EQ(read[0].Validator, "\"v1\"");

  // A validator that would break the request's header lines is never written.
  for (const char* bad : {"\"v1\"\r\nX-Evil: 1", "a\tb", ""}) {
    auto e = good;
    e.Validator = bad;
    EXPECT_FALSE(updater::WriteResume(state, {e}));
  }
  EXPECT_EQ(updater::ReadResume(state).size(), 1u) << "the record on disk stays as it was";

  // Lines of another kind, another file name, a bad hash or size, a line cut
  // short: only the good entry is taken.
  const std::string line = good.Part + "\t" + good.Address + "\t" + sha + "\t70000\t\"v1\"\n";
  WriteTextFile(updater::ResumePath(state),
                "kelvora-resume 1\n" + line + "relative.uPART\tu\t" + sha + "\t1\tv\n" + dir.File("x.exe") + "\tu\t" +
                    sha + "\t1\tv\n" + dir.File("b.uPART") + "\tu\t" + sha.substr(1) + "\t1\tv\n" +
                    dir.File("c.uPART") + "\tu\t" + sha + "\t-5\tv\n" + dir.File("d.uPART") + "\tu\t" + sha + "\t7");
  EXPECT_EQ(updater::ReadResume(state).size(), 1u);
  WriteTextFile(updater::ResumePath(state), "kelvora-resume 2\n" + line);
  EXPECT_TRUE(updater::ReadResume(state).empty()) << "another format protects nothing";
  ASSERT_TRUE(updater::WriteResume(state, {}));
  EXPECT_FALSE(FileExists(updater::ResumePath(state)));
}

TEST(ResumeRecord, TheRangeIsGuardedByAStrongETagElseByADateTheServerCallsOld) {
  const std::string headers = "HTTP/1.1 200 OK\r\nlast-modified:  Sun, 06 Nov 1994 08:49:37 GMT \r\n\r\n";
  const double modified = 34643.0, second = 1.0 / 86400;
  EXPECT_EQ(detail::RangeValidator("\"abc\"", headers, modified + 10 * second, modified), "\"abc\"");
  EXPECT_EQ(detail::RangeValidator("W/\"abc\"", headers, modified + 2 * second, modified),
            "Sun, 06 Nov 1994 08:49:37 GMT")
      << "a weak tag is no validator: the date is";
  EXPECT_EQ(detail::RangeValidator("", headers, modified + 0.5 * second, modified), "")
      << "a date as new as the answer may hide a change within that second";
  EXPECT_EQ(detail::RangeValidator("", headers, 0, modified), "") << "no Date: no telling";
  EXPECT_EQ(detail::RangeValidator("W/\"abc\"", "HTTP/1.1 200 OK\r\n\r\n", modified + 1, modified), "");
}
