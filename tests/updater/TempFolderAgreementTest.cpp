// The application writes the queue file into its temporary folder; the
// updater must look for it in the same place for every setting of
// XDG_RUNTIME_DIR and TMPDIR.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "kelvora/kvKelvora.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

class SavedEnv {
 public:
  explicit SavedEnv(const char* Name) : name_(Name) {
    const char* v = std::getenv(Name);
    if (v != nullptr) value_ = v;
  }
  ~SavedEnv() {
    if (value_)
      ::setenv(name_, value_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> value_;
};

TEST(UpdaterTempFolder, LooksForTheQueueWhereTheApplicationWritesIt) {
  SavedEnv xdg("XDG_RUNTIME_DIR"), tmp("TMPDIR");
  UpdaterFolders f;
  const std::string a = f.Root("a"), b = f.Root("b"), open = f.Root("open"), link = f.Root("link");
  ::mkdir(a.c_str(), 0700);
  ::mkdir(b.c_str(), 0700);
  ::mkdir(open.c_str(), 0755);
  ASSERT_EQ(::symlink(a.c_str(), link.c_str()), 0);
  struct Case {
    std::string Xdg, Tmp, Expected;
  };
  const Case cases[] = {
      {a, b, a + "/"},          // the runtime folder first
      {open + "/", b, b + "/"},  // not private: the next candidate
      {link, b + "//", b + "/"},  // a link is refused, even to a private folder; trailing "/" ignored
      {"relative", b, b + "/"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("XDG_RUNTIME_DIR=" + c.Xdg + " TMPDIR=" + c.Tmp);
    ::setenv("XDG_RUNTIME_DIR", c.Xdg.c_str(), 1);
    ::setenv("TMPDIR", c.Tmp.c_str(), 1);
    ASSERT_EQ(kelvora::GetTempFolder(), c.Expected);
    const std::string queue = kelvora::QueueFilePath();
    // A download with a target outside the application's folder: only the
    // queue names it. A queue left in the other folder must not be read.
    const std::string target = f.Root("out" + std::to_string(++n) + ".dat");
    const std::string decoy = f.Root("decoy" + std::to_string(n) + ".dat");
    WriteTextFile(target + ".uTMP", "new");
    WriteTextFile(decoy + ".uTMP", "must stay");
    WriteTextFile(queue, target + "\r\n");
    WriteTextFile((c.Expected == a + "/" ? b : a) + "/UpgraderQueue.txt", decoy + "\r\n");
    ASSERT_EQ(RunUpdater(f, {f.App("demo"), "+/afterupgrade0"}, {{"XDG_RUNTIME_DIR", c.Xdg}, {"TMPDIR", c.Tmp}}), 0);
    EXPECT_EQ(ReadWholeFile(target), "new");
    EXPECT_FALSE(FileExists(queue));
    EXPECT_TRUE(FileExists(decoy + ".uTMP"));
  }
}

}  // namespace
}  // namespace kvtest
