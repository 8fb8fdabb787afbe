// Transfers with a positive ProgressInterval: the scenarios of the other
// suites (complete and cut bodies, aborts from a handler and from the UI, a
// write error, a size alert, resume, upload) with the events paced.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "support/ScratchMount.h"
#include "http/HttpFixture.h"
#include "http/HttpTestUtil.h"

using namespace kelvora;
using namespace kvtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kInterval = 50;

// Exposes the engine's size alert and body observer.
class TAlertedHTTP : public TkvCustomHTTP {
 public:
  using TkvCustomHTTP::SetBodyObserver;
  using TkvCustomHTTP::SetProgressAlertSize;
  TAlertedHTTP() : TkvCustomHTTP(nullptr) {}
};

int64_t SizeOnDisk(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? st.st_size : -1;
}

class HttpPaced : public FaultServerHttpTest {
 protected:
  void SetUp() override {
    http_ = std::make_unique<TAlertedHTTP>();
    http_->SetProgressInterval(kInterval);
    ev_.Attach(*http_);
    out_ = dir_.File("out.bin");
    Reset();
  }
  void Fetch(const std::string& Path, const std::string& Out) {
    http_->SetURL(server_->Url(Path));
    http_->SetOutputFileName(Out);
    ASSERT_TRUE(http_->Read(false));
    ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); })) << ev_.Joined();
  }
  // Forgets the events; at every event the file must hold what it reports.
  void Reset() {
    ev_.Reset();
    ev_.OnProgress = [this] {
      if (!http_->OutputFileName().empty() && SizeOnDisk(http_->OutputFileName()) < ev_.LastBytesRead)
        ++unflushed_;
    };
  }
  // The most events a transfer may raise in Ms: the first, one per
  // interval after it, and the last. The worker paces them by its own
  // clock and the handlers run later, so only their number is bounded by
  // the time around the whole transfer, however the threads are scheduled.
  static int MostEventsIn(double Ms) { return static_cast<int>(Ms / (kInterval - 1)) + 2; }

  TempDir dir_;
  std::string out_;
  int unflushed_ = 0;
};

TEST_F(HttpPaced, EventsAtMostOncePerIntervalWithTheOutputFlushed) {
  // 400000 bytes in 40 pieces 10 ms apart: far fewer events than blocks,
  // the last one for the last block.
  const auto start = Clock::now();
  Fetch("/slow?n=400000&chunk=10000&delay=10", out_);
  const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "Done"}));
  EXPECT_GE(ev_.ProgressCount, 2);
  EXPECT_LE(ev_.ProgressCount, MostEventsIn(took)) << took << " ms";
  EXPECT_EQ(ev_.LastBytesRead, 400000);
  EXPECT_EQ(ev_.LastPercents, 100);
  EXPECT_EQ(unflushed_, 0);
  EXPECT_TRUE(FileHoldsPattern(out_, 400000));

  // Memory, and a body without a length: paced the same way, the last
  // event at its end (one alone when the body comes within an interval).
  Reset();
  const auto chunkedStart = Clock::now();
  Fetch("/chunked?n=300000&chunk=1000", "");
  const double chunkedTook = std::chrono::duration<double, std::milli>(Clock::now() - chunkedStart).count();
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_GE(ev_.ProgressCount, 1);
  EXPECT_LE(ev_.ProgressCount, MostEventsIn(chunkedTook)) << chunkedTook << " ms";
  EXPECT_EQ(ev_.LastBytesRead, 300000);
  EXPECT_EQ(ev_.Data, PatternBytes(0, 300000));

  // Cut short: what arrived is written and reported before the loss.
  Reset();
  Fetch("/truncated?n=400000&send=300000", out_);
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "ConnectionLost", "RequestFailed"}));
  EXPECT_EQ(ev_.LastBytesRead, 300000);
  EXPECT_EQ(ev_.LostBytesRead, 300000);
  EXPECT_EQ(unflushed_, 0);
  EXPECT_TRUE(FileHoldsPattern(out_, 300000));
}

TEST_F(HttpPaced, AbortFromAHandlerAndFromTheUI) {
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    Reset();
    ev_.OnProgress = [&] {
      if (ev_.ProgressCount == 2) http_->Abort(false, force);
    };
    Fetch("/slow?n=1000000&chunk=10000&delay=10", out_);
    PumpFor(100);
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
    EXPECT_EQ(ev_.ProgressCount, 2);
    EXPECT_GE(SizeOnDisk(out_), ev_.LastBytesRead);
  }
  // Cancelled from the UI between two events; the file may go with it.
  Reset();
  http_->SetURL(server_->Url("/slow?n=1000000&chunk=10000&delay=10"));
  http_->SetOutputFileName(out_);
  ASSERT_TRUE(http_->Read(false));
  ASSERT_TRUE(PumpUntil([this] { return ev_.ProgressCount >= 1; }));
  http_->Abort(true, false);
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "TransferAborted"}));
  EXPECT_FALSE(FileExists(out_));
}

TEST_F(HttpPaced, WriteErrorIsReportedBeforeAnyEvent) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  http_->OutputFileAttributes().SetIncomplete({atrArchive});
  http_->OutputFileAttributes().SetComplete({atrArchive});
  for (const char* path : {"/bytes?n=10000", "/bytes?n=700000"}) {
    SCOPED_TRACE(path);
    Reset();
    Fetch(path, "/dev/full");
    ASSERT_TRUE(PumpUntil([this] { return ev_.Outcome().size() >= 3 && !http_->Busy(); }));
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,WriteError:" + std::to_string(ENOSPC) + ",RequestFailed");
  }
}

TEST_F(HttpPaced, TheObserverHasSeenEveryWrittenByteWhenTheTransferEnds) {
  // A large download's observer (the engine's hash) runs on a thread of its
  // own while the next bytes arrive. It has seen the whole file, in order,
  // when Done comes; when the disk fills midway it has seen no byte that
  // was not written, and the transfer ends as a write error all the same.
  int64_t observed = 0;
  bool inOrder = true;
  static_cast<TAlertedHTTP&>(*http_).SetBodyObserver([&](int64_t Position, const uint8_t*, size_t Size) {
    inOrder = inOrder && Position == observed;
    observed += static_cast<int64_t>(Size);
  });
  Fetch("/bytes?n=3000000", out_);
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "Done"}));
  EXPECT_EQ(observed, 3000000);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(unflushed_, 0);

  const std::string small = dir_.File("small");
  ::mkdir(small.c_str(), 0755);
  const kvtest::TScratchMount disk(small, "size=1m");
  if (!disk.Mounted()) GTEST_SKIP() << "the full disk needs root to mount a small tmpfs";
  http_->OutputFileAttributes().SetIncomplete({atrArchive});
  http_->OutputFileAttributes().SetComplete({atrArchive});
  Reset();
  observed = 0;
  Fetch("/bytes?n=8000000", small + "/out.bin");
  EXPECT_EQ(ev_.Outcome(),
            (std::vector<std::string>{"HeaderInfo", "WriteError:" + std::to_string(ENOSPC), "RequestFailed"}));
  const int64_t size = SizeOnDisk(small + "/out.bin");
  EXPECT_GT(size, 0);
  EXPECT_LE(observed, size);
  EXPECT_TRUE(inOrder);
  EXPECT_TRUE(FileHoldsPattern(small + "/out.bin", size)) << "no gap, no stray bytes";
}

TEST_F(HttpPaced, TheLastEventComesBeforeTheOutcomeAndMayStillStopTheTransfer) {
  // The last block's event is raised by the completion step: still before
  // Done, with the transfer busy, and a handler that aborts in it (gently
  // or at once) ends the transfer as it always did.
  bool busy = false, finishedBefore = true;
  ev_.OnProgress = [&] {
    busy = http_->Busy();
    finishedBefore = ev_.Finished();
  };
  Fetch("/bytes?n=10000", out_);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.ProgressCount, 1);
  EXPECT_EQ(ev_.LastBytesRead, 10000);
  EXPECT_TRUE(busy);
  EXPECT_FALSE(finishedBefore);
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    Reset();
    ev_.OnProgress = [&] { http_->Abort(true, force); };
    Fetch("/bytes?n=10000", out_);
    PumpFor(50);
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
    EXPECT_EQ(ev_.ProgressCount, 1);
    EXPECT_FALSE(FileExists(out_)) << "deleted as asked";
  }
}

TEST_F(HttpPaced, PassingTheAlertSizeRaisesTheEventAtOnce) {
  // A watcher of the size (the engine's trust layer) stops the transfer at
  // the block that passes it, whatever the interval.
  static_cast<TAlertedHTTP&>(*http_).SetProgressAlertSize(100000);
  int64_t stoppedAt = -1;
  ev_.OnProgress = [&] {
    if (ev_.LastBytesRead > 100000 && stoppedAt < 0) {
      stoppedAt = ev_.LastBytesRead;
      http_->Abort(true, false);
    }
  };
  Fetch("/bytes?n=5000000", out_);
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "TransferAborted"}));
  EXPECT_GT(stoppedAt, 100000);
  EXPECT_LE(stoppedAt, 100000 + 4096);
  EXPECT_EQ(ev_.LastBytesRead, stoppedAt) << "no event after the one that stopped it";
  EXPECT_FALSE(FileExists(out_));
}

TEST_F(HttpPaced, ResumeAndUpload) {
  // The first block is compared with the partial file, the rest appended.
  WritePatternFile(out_, 6000);
  http_->SetURL(server_->Url("/bytes?n=10000"));
  http_->SetOutputFileName(out_);
  ASSERT_TRUE(http_->ReadRange(1000, 0, false));
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "Done"}));
  EXPECT_EQ(ev_.ProgressCount, 1);
  EXPECT_EQ(ev_.LastBytesRead, 10000);
  EXPECT_TRUE(FileHoldsPattern(out_, 10000));

  // An upload: its last block is always reported.
  Reset();
  int64_t lastSent = -1;
  http_->OnUploadProgress = [&](TObject*, int64_t, int64_t Sent, int32_t, int32_t, uint8_t, float) {
    ev_.Names.push_back("UploadProgress");
    lastSent = Sent;
  };
  auto src = std::make_unique<TMemoryStream>();
  const std::string data = PatternBytes(3, 50000);
  src->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  http_->SetURL(server_->Url("/upload"));
  http_->SetOutputFileName("");
  http_->SetTransferBufferSize(8192);
  ASSERT_TRUE(http_->StartUpload(std::move(src), "Content-Type: application/octet-stream", false));
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Outcome(), (std::vector<std::string>{"HeaderInfo", "Done"}));
  const auto uploads = std::count(ev_.Names.begin(), ev_.Names.end(), "UploadProgress");
  EXPECT_GE(uploads, 1);
  EXPECT_LT(uploads, 7);  // 7 blocks
  EXPECT_EQ(lastSent, 50000);
  EXPECT_EQ(ev_.Data.substr(0, 6), "50000 ");
}

}  // namespace
