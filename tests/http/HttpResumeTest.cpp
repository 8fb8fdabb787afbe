// Ranges and resumption: the range header, the compare-first block, the
// 416 size probe, abandoning a resume, servers that ignore ranges, against
// the fault server, nginx and local files.
#include <gtest/gtest.h>

#include "http/HttpFixture.h"
#include "http/HttpTestUtil.h"
#include "support/FaultServer.h"
#include "support/Nginx.h"

using namespace kelvora;
using namespace kvtest;

namespace {

class HttpResume : public FaultServerHttpTest {
 protected:
  static void SetUpTestSuite() {
    FaultServerHttpTest::SetUpTestSuite();
    nginx_ = new Nginx();
    nginx_->AddPatternFile("big.bin", 300000);
  }
  void SetUp() override {
    FaultServerHttpTest::SetUp();
    out_ = dir_.File("out.bin");
    http_->SetOutputFileName(out_);
  }

  void FetchRange(const std::string& Url, int64_t From, int64_t To = 0) {
    ev_.Reset();
    http_->SetURL(Url);
    ASSERT_TRUE(http_->ReadRange(From, To, false));
    ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); })) << ev_.Joined();
  }
  // The RANGE header lines the fault server saw, in order.
  std::vector<std::string> RangesSeen() {
    TkvCustomHTTP h(nullptr);
    std::string log;
    h.OnDone = [&](TObject*, const std::string&, int64_t, TStream* D) { log = dynamic_cast<TMemoryStream*>(D)->ToString(); };
    h.SetURL(server_->Url("/_log"));
    h.Read(true);
    std::vector<std::string> out;
    for (size_t p = log.find("[\"RANGE\", \""); p != std::string::npos; p = log.find("[\"RANGE\", \"", p + 1)) {
      size_t from = p + 11;
      out.push_back(log.substr(from, log.find('"', from) - from));
    }
    return out;
  }

  TempDir dir_;
  std::string out_;
};

TEST_F(HttpResume, ResumeComparesTheFirstBlockAndAppendsTheRest) {
  // The partial file holds the first 6000 bytes; resuming at 1000 overlaps
  // them: the first block is checked against the file, not written.
  WritePatternFile(out_, 6000);
  const size_t before = RangesSeen().size();
  FetchRange(server_->Url("/bytes?n=10000"), 1000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 206);
  EXPECT_EQ(ev_.HeaderLength, 10000);  // the whole file: length + resume position
  auto ranges = RangesSeen();
  ASSERT_EQ(ranges.size(), before + 1);
  EXPECT_EQ(ranges.back(), "bytes=1000-");
  EXPECT_EQ(ev_.ProgressCount, 2);  // 4096 compared, 4096 + 808 written
  EXPECT_EQ(ev_.LastBytesRead, 10000);
  EXPECT_EQ(ev_.LastPercents, 100);
  EXPECT_EQ(ev_.DoneFileSize, 10000);
  EXPECT_TRUE(FileHoldsPattern(out_, 10000));
  EXPECT_EQ(http_->ResumePosition(), 1000);

  // Resuming exactly at the end of the partial file appends from there.
  WritePatternFile(out_, 4000);
  FetchRange(server_->Url("/bytes?n=10000"), 4000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.ProgressCount, 2);
  EXPECT_TRUE(FileHoldsPattern(out_, 10000));
}

TEST_F(HttpResume, APartialFileThatDoesNotMatchIsFetchedAgain) {
  WriteTextFile(out_, std::string(6000, 'x'));
  FetchRange(server_->Url("/bytes?n=9000"), 2000);
  // The 206 answer, then the whole resource from byte 0 into a new file.
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 200);
  EXPECT_EQ(http_->ResumePosition(), 0);
  EXPECT_TRUE(FileHoldsPattern(out_, 9000));
  // A partial file shorter than the resume position cannot be continued.
  WritePatternFile(out_, 100);
  FetchRange(server_->Url("/bytes?n=9000"), 2000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(out_, 9000));
}

TEST_F(HttpResume, AServerThatIgnoresTheRangeSendsEverythingAgain) {
  WriteTextFile(out_, std::string(20000, 'y'));
  FetchRange(server_->Url("/bytes?n=9000&ranges=0"), 1000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 200);
  EXPECT_EQ(http_->ResumePosition(), 0);
  EXPECT_TRUE(FileHoldsPattern(out_, 9000));  // truncated and written anew
}

TEST_F(HttpResume, ARangeOtherThanAskedIsNeverKept) {
  // Resume at 1000 answered from byte 0: fetched again from the start.
  WritePatternFile(out_, 1000);
  FetchRange(server_->Url("/badrange?n=5000&first=0&last=4999"), 1000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 200);
  EXPECT_TRUE(FileHoldsPattern(out_, 5000));
  EXPECT_FALSE(http_->RangeRequested() || http_->RangeRefused()) << "the fetch from the start asked no range";
  // A server that answers every request with the wrong range: the transfer
  // fails and the partial file is left as it was.
  WritePatternFile(out_, 1000);
  FetchRange(server_->Url("/badrange?n=5000&first=1500&last=4999&always=1"), 1000);
  EXPECT_EQ(ev_.Joined(), "ConnectionLost,RequestFailed");
  EXPECT_TRUE(http_->RangeRefused()) << "not a lost connection";
  EXPECT_TRUE(FileHoldsPattern(out_, 1000));
  // An explicit range answered with another one, and a plain request
  // answered with a fragment, to memory.
  http_->SetOutputFileName("");
  FetchRange(server_->Url("/badrange?n=5000&first=2000&last=2999"), 2000, 2499);
  EXPECT_EQ(ev_.Joined(), "ConnectionLost,RequestFailed");
  EXPECT_TRUE(http_->RangeRequested() && http_->RangeRefused());
  FetchRange(server_->Url("/badrange?n=5000&first=2000&last=2999&always=1"), 0);
  EXPECT_EQ(ev_.Joined(), "ConnectionLost,RequestFailed");
  EXPECT_EQ(ev_.Data, "");
  // A 206 holding the whole resource is what a plain request asked for.
  FetchRange(server_->Url("/badrange?n=5000&first=0&last=4999&always=1"), 0);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.Data, PatternBytes(0, 5000));
  // The range asked for still works.
  FetchRange(server_->Url("/bytes?n=5000"), 2000, 2999);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.Data, PatternBytes(2000, 1000));
  EXPECT_TRUE(http_->RangeRequested() && !http_->RangeRefused());
  // A partial file longer than the resource ends at the resource's end.
  http_->SetOutputFileName(out_);
  WritePatternFile(out_, 6000);
  FetchRange(server_->Url("/bytes?n=5000"), 1000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(out_, 5000));
}

TEST_F(HttpResume, Answer416ProbesTheSize) {
  // Complete already: nothing to do.
  WritePatternFile(out_, 8000);
  FetchRange(server_->Url("/bytes?n=8000"), 8000);
  EXPECT_EQ(ev_.Joined(), "RequestFailed,DoneWithoutData");
  EXPECT_TRUE(FileHoldsPattern(out_, 8000));
  auto ranges = RangesSeen();
  ASSERT_GE(ranges.size(), 2u);
  EXPECT_EQ(ranges[ranges.size() - 2], "bytes=8000-");
  EXPECT_EQ(ranges.back(), "bytes=0-");  // the probe
  // A different size: fetched again from byte 0.
  WritePatternFile(out_, 8500);
  FetchRange(server_->Url("/bytes?n=8000"), 8500);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 200);
  EXPECT_TRUE(FileHoldsPattern(out_, 8000));
  // A 416 without resume position is an ordinary error.
  FetchRange(server_->Url("/416?size=5"), 0);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,HTTPError,RequestFailed");
}

TEST_F(HttpResume, AgainstNginx) {
  // Resume a real file, complete check, and the Range setting.
  WritePatternFile(out_, 100000);
  http_->SetTransferBufferSize(65536);
  FetchRange(nginx_->Url("/big.bin"), 100000 - 4096);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 206);
  EXPECT_TRUE(FileHoldsPattern(out_, 300000));
  FetchRange(nginx_->Url("/big.bin"), 300000);
  EXPECT_EQ(ev_.Joined(), "RequestFailed,DoneWithoutData");
  // Range setting: bytes 100..199 into a new file.
  http_->Range().SetStartRange(100);
  http_->Range().SetEndRange(199);
  FetchRange(nginx_->Url("/big.bin"), 0);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderStatus, 206);
  EXPECT_EQ(ReadWholeFile(out_), PatternBytes(100, 100));
  // A resume position takes precedence over the Range setting.
  WritePatternFile(out_, 250000);
  FetchRange(nginx_->Url("/big.bin"), 250000);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(out_, 300000));
}

TEST_F(HttpResume, LocalFilesResumeToo) {
  const std::string src = dir_.File("source.bin");
  WritePatternFile(src, 50000);
  WritePatternFile(out_, 20000);
  FetchRange("file://" + src, 20000);
  EXPECT_EQ(ev_.Joined(), "Done");
  EXPECT_EQ(ev_.DoneFileSize, 50000);
  EXPECT_TRUE(FileHoldsPattern(out_, 50000));
  FetchRange("file://" + src, 50000);
  EXPECT_EQ(ev_.Joined(), "RequestFailed,DoneWithoutData");
  // Range of a local file.
  http_->Range().SetStartRange(10);
  http_->Range().SetEndRange(19);
  FetchRange("file://" + src, 0);
  EXPECT_EQ(ev_.Joined(), "Done");
  EXPECT_EQ(ReadWholeFile(out_), PatternBytes(10, 10));
}

}  // namespace
