// The upgrade protocol walked as a table: each step an install can be at,
// against each thing that can happen there (the updater killed, a move that
// fails, the confirmation or the time-out, a kill while undoing), run in a
// child process with the protocol's fault hooks. The next holder of the lock
// then recovers, and the invariants must hold: the files are wholly the old
// set or wholly the new one, the new one only after a confirmation, nothing
// of the install is left behind, and a failure is on record for an undo.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "updater/Transaction.h"

namespace kelvora::updater {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& P) {
  std::ifstream in(P, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
void Write(const fs::path& P, const std::string& Text) { std::ofstream(P, std::ios::binary) << Text; }

// What happens to the updater, and where.
struct TEvent {
  const char* Name;
  const char* Variable;  // a fault hook, or nullptr
  const char* Value;
  bool Confirms;  // the new build confirms (when the install got that far)
};

const TEvent kEvents[] = {
    {"confirmed", nullptr, nullptr, true},
    {"timed out", nullptr, nullptr, false},
    {"killed before the first move", "KELVORA_UPDATER_KILL_AFTER", "0", true},
    {"killed after 1 move", "KELVORA_UPDATER_KILL_AFTER", "1", true},
    {"killed after 2 moves", "KELVORA_UPDATER_KILL_AFTER", "2", true},
    {"killed after every move", "KELVORA_UPDATER_KILL_AFTER", "3", true},
    {"killed between backup and move", "KELVORA_UPDATER_KILL_IN", "backup", true},
    {"move 1 fails", "KELVORA_UPDATER_FAIL_AT", "1", true},
    {"move 3 fails", "KELVORA_UPDATER_FAIL_AT", "3", true},
    {"killed while undoing a time-out", "KELVORA_UPDATER_KILL_IN", "rollback", false},
};

class ProtocolTable : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("kv-protocol-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // A program folder with the old set and the new set's downloads (the
  // program, a changed file, a file new to the release), committed.
  void Stage(const fs::path& Folder) {
    fs::create_directories(Folder);
    Write(Folder / "prog", "#!old program\n");
    ::chmod((Folder / "prog").c_str(), 0755);
    Write(Folder / "a.txt", "old a");
    for (const char* name : {"prog", "a.txt", "c.txt"})
      Write(Folder / (std::string(name) + kDownloadSuffix), std::string("#!new ") + name + "\n");
    ::chmod((Folder / (std::string("prog") + kDownloadSuffix)).c_str(), 0755);
    state_ = StateFolderFor((Folder / "prog").string());
    ::mkdir(state_.c_str(), 0700);
    entries_.clear();
    for (const char* name : {"a.txt", "c.txt", "prog"})
      entries_.push_back({(Folder / name).string() + kDownloadSuffix, (Folder / name).string()});
    std::string text;
    ASSERT_TRUE(FormatQueue(entries_, text, 30));
    ASSERT_TRUE(WriteFileDurably(QueuePath(state_), text));
  }

  // The updater's part, as Updater.cpp does it, in a child that the event
  // may kill. Its exit status, or -signal.
  int RunUpdaterPart(const std::string& Program, const TEvent& E) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (E.Variable != nullptr) ::setenv(E.Variable, E.Value, 1);
      const TInstallResult r = Install(state_, entries_, Program);
      bool confirmed = r.Failed == 0 && E.Confirms;
      if (confirmed) confirmed = Decide(state_, TDecision::Confirmed) == TDecision::Confirmed;
      if (confirmed) {
        FinishInstall(state_);
        std::_Exit(0);
      }
      Decide(state_, TDecision::Undo);
      WriteFailure(state_, r.Failed > 0 ? r.FailedFile : Program, r.Failed > 0 ? r.Reason : "no confirmation");
      std::_Exit(RollBack(state_, Program) ? 3 : 4);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  fs::path root_;
  std::string state_;
  std::vector<TQueueEntry> entries_;
};

TEST_F(ProtocolTable, EveryStepAgainstEveryEventEndsWithOneWholeSet) {
  int n = 0;
  for (const TEvent& e : kEvents) {
    SCOPED_TRACE(e.Name);
    const fs::path folder = root_ / std::to_string(n++);
    Stage(folder);
    const std::string program = (folder / "prog").string();
    const int status = RunUpdaterPart(program, e);
    const bool killed = status < 0;
    // Finished by the updater (the decision then gone with the install), or
    // decided and left for the next holder to finish.
    const bool confirmedBeforeRecovery = status == 0 || ReadDecision(state_) == TDecision::Confirmed;

    // The next holder of the lock: a start of the program, or the next updater.
    const int lock = OpenLock(state_, true);
    ASSERT_GE(lock, 0);
    ASSERT_TRUE(TryLock(lock));
    const TRecovered recovered = Recover(state_, program);
    ::close(lock);
    EXPECT_NE(recovered, TRecovered::Stuck);

    const bool isNew = Read(folder / "prog") == "#!new prog\n";
    EXPECT_EQ(isNew, confirmedBeforeRecovery) << "the new set only after a confirmation";
    if (isNew) {
      EXPECT_EQ(Read(folder / "a.txt"), "#!new a.txt\n");
      EXPECT_EQ(Read(folder / "c.txt"), "#!new c.txt\n");
    } else {
      EXPECT_EQ(Read(folder / "prog"), "#!old program\n");
      EXPECT_EQ(Read(folder / "a.txt"), "old a");
      EXPECT_FALSE(fs::exists(folder / "c.txt")) << "a file new to the release is removed";
    }
    struct stat st {};
    ASSERT_EQ(::stat((folder / "prog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0111, 0111u) << "the program stays a program";
    for (const auto& f : fs::directory_iterator(folder)) {
      const std::string name = f.path().filename().string();
      EXPECT_FALSE(name.ends_with(kBackupSuffix) || name.ends_with(kDownloadSuffix)) << name;
    }
    for (const std::string& left : {QueuePath(state_), JournalPath(state_), ConfirmPath(state_)})
      EXPECT_FALSE(fs::exists(left)) << left;
    // Every undo of a begun install is on record for the next start to tell.
    if (!isNew && (status == 3 || (killed && std::string(e.Value) != "0"))) {
      EXPECT_TRUE(ReadFailure(state_).has_value());
    }
    if (isNew) {
      EXPECT_FALSE(fs::exists(FailurePath(state_)));
    }
  }
}

}  // namespace
}  // namespace kelvora::updater
