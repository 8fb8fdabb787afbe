// The engine in a program folder that another local user may write to (a
// world-writable one, and one shared by a group, mode 2770): that user, a
// real second uid, plants links where the run's part files go. Nothing is
// ever written through them, and the user is told why the upgrade stopped.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>

#include "engine/EngineFixture.h"
#include "kelvora/delta/PatchOffer.h"
#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/Crypto.h"

using namespace kelvora;

namespace kvtest {
namespace {

constexpr uid_t kOtherUser = 65534;  // "nobody"
constexpr gid_t kSharedGroup = 65534;

// Runs Step as the other user in a child process; true when it succeeded.
bool AsOtherUser(const std::function<bool()>& Step) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const gid_t groups[] = {kSharedGroup};
    const bool ok = ::setgroups(1, groups) == 0 && ::setgid(kSharedGroup) == 0 && ::setuid(kOtherUser) == 0 &&
                    ::getuid() == kOtherUser && Step();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class SharedFolderTest : public EngineTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "a second local user needs root to be played";
    EngineTest::SetUp();
    k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Record("Refused:" + Reason); };
    // Outside the test's private folder, so that the other user reaches it.
    char base[] = "/tmp/kvshared-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    base_ = base;
    ::chmod(base_.c_str(), 0711);
  }
  void TearDown() override {
    if (!base_.empty()) std::system(("rm -rf '" + base_ + "'").c_str());
    if (k) EngineTest::TearDown();
  }
  std::string Refusal() const {
    for (const auto& e : events)
      if (e.rfind("Refused:", 0) == 0) return e.substr(8);
    return {};
  }
  bool ToldDiskFull() const {
    for (const auto& c : ui.Calls)
      if (c.find("disk is full") != std::string::npos) return true;
    return false;
  }
  // A folder of Mode in base_, of this user's and the shared group's.
  std::string SharedFolder(const std::string& Name, mode_t Mode) {
    const std::string folder = base_ + "/" + Name;
    EXPECT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(::chown(folder.c_str(), ::geteuid(), kSharedGroup), 0);
    EXPECT_EQ(::chmod(folder.c_str(), Mode), 0);
    return folder;
  }
  std::string base_;
};

TEST_F(SharedFolderTest, AnotherUsersLinkAtAPartNameIsRefusedAndNeverWrittenThrough) {
  server->AddPatternFile("a.bin", 300000);
  const std::string victim = dir.File("victim.txt");  // the user's own file, elsewhere
  for (const mode_t mode : {mode_t{0777}, mode_t{02770}}) {
    SCOPED_TRACE(mode == 0777 ? "world-writable folder" : "group-shared folder");
    const std::string shared = SharedFolder(mode == 0777 ? "world" : "group", mode);
    const std::string part = shared + "/a.bin.uPART";
    WriteTextFile(victim, "precious");
    PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/a.bin") + "=" + shared + "/a.bin\n");

    // Planted once the part exists and its download has begun.
    events.clear();
    bool planted = false;
    k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool&) {
      Record("FileStart");
      planted = AsOtherUser([&] {
        return ::unlink(part.c_str()) == 0 && ::symlink(victim.c_str(), part.c_str()) == 0;
      });
    };
    ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
    EXPECT_TRUE(planted);
    EXPECT_TRUE(ReadWholeFile(victim) == "precious") << "the user's own file elsewhere is unchanged";
    EXPECT_NE(Refusal().find(part + ": it was replaced"), std::string::npos) << Events();
    EXPECT_FALSE(ToldDiskFull());
    EXPECT_FALSE(FileExists(shared + "/a.bin.uTMP"));
    struct stat st {};
    ASSERT_EQ(::lstat(part.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode) && st.st_uid == kOtherUser) << "the other user's link is left alone";

    // The link still there when the next run begins: refused before a byte.
    events.clear();
    k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool&) { Record("FileStart"); };
    ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
    EXPECT_FALSE(Has("FileStart"));
    EXPECT_NE(Refusal().find("another user's file or link"), std::string::npos) << Events();
    EXPECT_FALSE(ToldDiskFull());
    EXPECT_TRUE(ReadWholeFile(victim) == "precious") << "the user's own file elsewhere is unchanged";
  }
}

TEST_F(SharedFolderTest, APatchIsNeverWrittenThroughAnotherUsersLink) {
  if (!delta::PatchesSupported()) GTEST_SKIP() << "this build has no patches";
  const std::string shared = SharedFolder("group", 02770);
  std::string base = "Release notes\n", next;
  for (int i = 0; i < 3000; ++i) base += "line " + std::to_string(i) + "\n";
  next = base + "2: faster\n";
  const std::string target = shared + "/notes.txt";
  WriteTextFile(target, base);
  WriteTextFile(dir.File("next"), next);
  const std::string patch = delta::CreateZstdPatch(target, dir.File("next"), 3);
  server->AddTextFile("p/notes.1-2", patch);
  server->AddTextFile("notes.txt", next);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/notes.txt") + "=" + target + "\n#hash1=sha256:" +
              trust::Sha256Hex(next) + " " + std::to_string(next.size()) + "\n#patch1.1=" +
              delta::FormatPatchValue({trust::Sha256Hex(base), trust::Sha256Hex(patch),
                                       static_cast<int64_t>(patch.size()), server->Url("/p/notes.1-2")}) +
              "\n");
  const std::string victim = dir.File("victim.txt"), diff = target + ".uDIFF";
  WriteTextFile(victim, "precious");
  // Planted while the patch is fetched, once its file exists.
  bool planted = false;
  k->OnFileStart = [&](TObject*, const std::string& Url, int64_t, const TDateTime&, bool&) {
    Record("FileStart:" + Url.substr(Url.rfind('/') + 1));
    if (Url.find("/p/") != std::string::npos)
      planted = AsOtherUser([&] { return ::unlink(diff.c_str()) == 0 && ::symlink(victim.c_str(), diff.c_str()) == 0; });
  };
  k->OnEndUpgrade = [this](TObject*, bool& Restart) {
    Record("EndUpgrade");
    Restart = false;
  };
  ASSERT_TRUE(RunCheckUntil("EndUpgrade")) << Events();
  EXPECT_TRUE(planted);
  EXPECT_TRUE(ReadWholeFile(victim) == "precious") << "the user's own file elsewhere is unchanged";
  // The patch written is not the file at its name any more: the whole file
  // is fetched instead, and is what waits to be installed.
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:;FileStart:notes.1-2;Progress;FileStart:notes.txt;Progress;"
                      "FileDone:notes.txt.uTMP;EndUpgrade");
  EXPECT_TRUE(ReadWholeFile(target + ".uTMP") == next);
}

}  // namespace
}  // namespace kvtest
