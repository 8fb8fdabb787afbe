// The console upgrade-UI on a real 256 MiB download from nginx, once on a
// pseudo-terminal and once into a pipe: what it writes must stay readable
// and small however many blocks arrive.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <thread>

#include "engine/EngineFixture.h"
#include "kelvora/ConsoleUpgradeUI.h"

using namespace kelvora;
using namespace std::chrono;

namespace kvtest {
namespace {

constexpr uint64_t kBigFile = 256ull << 20;

// Collects everything written to Fd until its other end is closed.
class Drain {
 public:
  explicit Drain(int Fd) : fd_(Fd), thread_([this] {
    char buf[4096];
    for (ssize_t n; (n = ::read(fd_, buf, sizeof buf)) > 0;) text_.append(buf, static_cast<size_t>(n));
  }) {}
  std::string Finish() {
    thread_.join();
    return text_;
  }

 private:
  int fd_;
  std::string text_;
  std::thread thread_;
};

// A progress line made of whole fields only.
const std::regex kWholeFields(
    R"(^(\[[# ]+\] )?\d+% \(all \d+%\)(  File size: [0-9.]+ Kb)?(  Transfer rate: [0-9.]+ Kb/s)?)"
    R"((  Estimated time left: \d+:\d\d:\d\d)?$)");

class ConsoleDownloadTest : public EngineTest {
 protected:
  // Downloads the big file with a console UI writing to Out; returns the
  // seconds the download took.
  double Download(std::FILE* Out) {
    const std::string big = server->Root() + "/big.bin";
    if (::access(big.c_str(), F_OK) != 0) {
      std::FILE* f = std::fopen(big.c_str(), "w");  // sparse: nginx serves zeros
      if (f == nullptr || ::ftruncate(::fileno(f), static_cast<off_t>(kBigFile)) != 0) ADD_FAILURE() << "no room";
      if (f != nullptr) std::fclose(f);
    }
    PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/big.bin") + "=" + dir.File("big.bin") + "\n");
    std::FILE* in = std::fopen("/dev/null", "r");
    TkvConsoleUpgradeUI console(TkvConsoleUpgradeUI::cmAssumeYes, in, Out);
    k->SetUI(&console);
    const auto start = steady_clock::now();
    k->CheckUpdates(false);
    EXPECT_TRUE(PumpUntil([&] { return Has("FileDone") && !console.HasWizard() && !k->Busy(); }, seconds(240)));
    const double took = duration<double>(steady_clock::now() - start).count();
    k->SetUI(&ui);
    std::fclose(in);
    ::unlink(dir.File("big.bin.uTMP").c_str());
    return took;
  }
};

TEST_F(ConsoleDownloadTest, OnATerminalTheLineIsRedrawnAtMostTenTimesASecondAndFits) {
  int master = -1, slave = -1;
  winsize size{};
  size.ws_col = 72;
  size.ws_row = 24;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &size), 0);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  std::FILE* out = ::fdopen(slave, "w");
  Drain drain(master);
  const double took = Download(out);
  std::fclose(out);  // the terminal's last user is gone: the drain ends
  std::string text = drain.Finish();
  ::close(master);

  // Each redraw returns to the start of the line and clears its rest. (The
  // terminal itself ends every line with "\r\n".)
  std::vector<std::string> redraws;
  for (size_t end = text.find("\033[K"); end != std::string::npos; end = text.find("\033[K", end + 1)) {
    const size_t at = text.rfind('\r', end);
    ASSERT_NE(at, std::string::npos);
    redraws.push_back(text.substr(at + 1, end - at - 1));
  }
  RecordProperty("redraws", std::to_string(redraws.size()) + " in " + std::to_string(took) + " s");
  ASSERT_GE(redraws.size(), 2u) << text;
  EXPECT_LE(redraws.size(), static_cast<size_t>(took * 10) + 2) << took << " s";
  for (const auto& r : redraws) {
    EXPECT_LE(r.size(), 71u) << r;
    EXPECT_TRUE(std::regex_match(r, kWholeFields)) << r;
  }
  // Which fields and whether a bar fit depends on whether a rate is known
  // yet (a download under a second has none): the figures of the end are
  // always there.
  EXPECT_NE(redraws.back().find("100% (all 100%)  "), std::string::npos) << "the end is always drawn: " << redraws.back();
  EXPECT_TRUE(redraws.back().ends_with("Estimated time left: 0:00:00")) << redraws.back();
  EXPECT_NE(text.find("A newer version of " + CurrentExeName().substr(CurrentExeName().rfind('/') + 1) +
                      " was released."),
            std::string::npos)
      << "named by its file without a title";
}

TEST_F(ConsoleDownloadTest, IntoAPipeItWritesAPlainLinePerTenth) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  std::FILE* out = ::fdopen(fds[1], "w");
  Drain drain(fds[0]);
  Download(out);
  std::fclose(out);
  const std::string text = drain.Finish();
  ::close(fds[0]);

  EXPECT_EQ(text.find_first_of("\r\033\b"), std::string::npos) << "no control characters";
  // The engine's progress comes at its own pace, so a line is written at
  // the first figure of each further tenth (a tenth passed within one
  // interval gets none).
  size_t progress = 0;
  int tenth = 0;
  std::string last;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    if (line.find("% (all ") == std::string::npos) continue;
    ++progress;
    last = line;
    EXPECT_TRUE(std::regex_match(line, kWholeFields)) << line;
    const int percent = std::atoi(line.c_str());
    EXPECT_GT(percent / 10, tenth) << "at each further tenth: " << line;
    tenth = percent / 10;
  }
  EXPECT_GE(progress, 2u) << text;
  EXPECT_LE(progress, 10u) << text;
  EXPECT_EQ(last.rfind("100% (all 100%)  File size: 262144.0 Kb", 0), 0u) << last;
  EXPECT_NE(last.find("Estimated time left: 0:00:00"), std::string::npos) << "the end, once: " << last;
}

}  // namespace
}  // namespace kvtest
