// The state folder's records as the engine and the updater write them: only
// into the folder as it was checked, never through a link somebody put at
// its name since.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/TestFiles.h"
#include "updater/Transaction.h"
#include "updater/TransactionFiles.h"

using namespace kelvora;
using namespace kvtest;

TEST(RecordFolder, RecordsAreWrittenOnlyIntoTheFolderAsChecked) {
  TempDir dir;
  const std::string state = dir.File(".app.kelvora"), decoy = dir.File("decoy");
  ASSERT_EQ(::mkdir(state.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(decoy.c_str(), 0700), 0);
  ASSERT_TRUE(updater::WriteFileDurably(state + "/queue", "kelvora-queue 1\nend\n"));
  ASSERT_TRUE(updater::AppendRecord(state + "/journal", "kelvora-journal 1\n"));
  updater::WriteFailure(state + "/", dir.File("app"), "it crashed");
  ASSERT_TRUE(updater::ReadFailure(state + "/"));

  // The folder swapped for a link to another folder after its check: no
  // record (a failure, a confirmation, a journal line) lands in that folder.
  ASSERT_EQ(::rename(state.c_str(), dir.File("aside").c_str()), 0);
  ASSERT_EQ(::symlink(decoy.c_str(), state.c_str()), 0);
  ::unlink(dir.File("aside/failed").c_str());
  updater::WriteFailure(state + "/", dir.File("app"), "undone");
  EXPECT_FALSE(updater::WriteFileDurably(state + "/confirmed", "kelvora-confirmed 1\n"));
  EXPECT_FALSE(updater::AppendRecord(state + "/journal", "new\tx\n"));
  EXPECT_TRUE(std::filesystem::is_empty(decoy)) << "nothing was written through the link";

  // Nor into a folder that others may write to.
  ASSERT_EQ(::unlink(state.c_str()), 0);
  ASSERT_EQ(::rename(dir.File("aside").c_str(), state.c_str()), 0);
  ASSERT_EQ(::chmod(state.c_str(), 0777), 0);
  EXPECT_FALSE(updater::WriteFileDurably(state + "/confirmed", "kelvora-confirmed 1\n"));
  EXPECT_FALSE(updater::Exists(state + "/confirmed"));
}
