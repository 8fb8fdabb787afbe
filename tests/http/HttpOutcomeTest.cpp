// Transfers of TkvCustomHTTP against the scripted fault server: every row
// of the outcome table with its events in order, and what each leaves on
// disk and in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "http/DefaultTimeouts.h"
#include "http/HttpFixture.h"
#include "http/HttpTestUtil.h"
#include "kelvora/Application.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {

class HttpOutcome : public FaultServerHttpTest {
 protected:

  static std::string Url(const std::string& Path) { return server_->Url(Path); }
  // Starts a transfer of Path and waits until it has ended.
  void Fetch(const std::string& Path, const std::string& OutputFile = "") {
    http_->SetURL(Path.find("://") == std::string::npos ? Url(Path) : Path);
    http_->SetOutputFileName(OutputFile);
    ASSERT_TRUE(http_->Read(false));
    ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); })) << ev_.Joined();
  }

  TempDir dir_;
};

TEST_F(HttpOutcome, CompleteBodyToMemory) {
  bool activeInDone = false;
  ev_.OnFinished = [&] { activeInDone = !http_->Read(false); };  // refused while still active
  Fetch("/bytes?n=10000&type=text/x-kv");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.ProgressCount, 3);  // 4096 + 4096 + 1808
  EXPECT_EQ(ev_.HeaderStatus, 200);
  EXPECT_EQ(ev_.HeaderLength, 10000);
  EXPECT_EQ(ev_.HeaderContentType, "text/x-kv");
  EXPECT_TRUE(ev_.DoneHadData);
  EXPECT_EQ(ev_.DoneDataPosition, 0);
  EXPECT_EQ(ev_.DoneFileSize, 10000);
  EXPECT_EQ(ev_.Data, PatternBytes(0, 10000));
  EXPECT_TRUE(activeInDone);
  EXPECT_EQ(ev_.LastPercents, 100);
  EXPECT_EQ(http_->StatusCode(), 200);
  EXPECT_EQ(http_->BytesTransferred(), 10000);
  // The memory stream went with the completion step: a new transfer starts.
  ev_.Reset();
  Fetch("/bytes?n=10");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
}

TEST_F(HttpOutcome, CompleteBodyToFileGetsTheCompleteAttributes) {
  const std::string out = dir_.File("sub/out.bin");
  std::filesystem::create_directory(dir_.File("sub"));
  http_->OutputFileAttributes().SetIncomplete({atrHidden, atrTemporary});
  http_->OutputFileAttributes().SetComplete({atrArchive, atrHidden, atrTemporary});
  TkvFileAttributes during;
  ev_.OnProgress = [&] { during = AttributesOf(out); };
  Fetch("/bytes?n=20000", out);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_FALSE(ev_.DoneHadData);
  EXPECT_EQ(ev_.DoneFileSize, 20000);
  EXPECT_TRUE(FileHoldsPattern(out, 20000));
  EXPECT_TRUE(during == (TkvFileAttributes{atrHidden, atrTemporary}));
  EXPECT_TRUE(AttributesOf(out) == (TkvFileAttributes{atrArchive, atrHidden, atrTemporary}));
}

TEST_F(HttpOutcome, NextTransferMayStartFromDoneOfAFileTransfer) {
  // For file output the transfer is no longer active while OnDone runs.
  int done = 0;
  ev_.OnFinished = [&] {
    if (++done == 1) {
      http_->SetOutputFileName(dir_.File("second.bin"));
      http_->SetURL(Url("/bytes?n=3000"));
      EXPECT_TRUE(http_->Read(false));
    }
  };
  Fetch("/bytes?n=5000", dir_.File("first.bin"));
  ASSERT_TRUE(PumpUntil([&] { return done == 2 && !http_->Busy(); }));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done,HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(dir_.File("first.bin"), 5000));
  EXPECT_TRUE(FileHoldsPattern(dir_.File("second.bin"), 3000));
}

TEST_F(HttpOutcome, BodyWithoutLengthCountsAsCompleteAndHasNoPercentage) {
  Fetch("/nolength?n=9000");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderLength, 0);
  EXPECT_EQ(ev_.Data, PatternBytes(0, 9000));
  EXPECT_EQ(ev_.LastPercents, 0);
  EXPECT_EQ(ev_.LastEstimate, -ev_.LastElapsed);
  EXPECT_EQ(ev_.LastFileSize, 0);
  EXPECT_EQ(ev_.LastBytesRead, 9000);
}

TEST_F(HttpOutcome, ChunkedAndOverlongBodies) {
  Fetch("/chunked?n=12345&chunk=1000");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.Data, PatternBytes(0, 12345));
  ev_.Reset();
  Fetch("/overlong?n=5000&extra=3000");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.Data, PatternBytes(0, 5000));
}

TEST_F(HttpOutcome, ShortBodyIsALostConnectionAndKeepsTheFile) {
  const std::string out = dir_.File("part.bin");
  Fetch("/truncated?n=10000&send=6000", out);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,ConnectionLost,RequestFailed");
  EXPECT_EQ(ev_.LostFileSize, 10000);
  EXPECT_EQ(ev_.LostBytesRead, 6000);
  EXPECT_TRUE(FileHoldsPattern(out, 6000));
  EXPECT_TRUE(AttributesOf(out) == TkvOutputFileAttributes::DefaultIncomplete());
  // To memory: the stream holds what came, and nothing more.
  ev_.Reset();
  Fetch("/truncated?n=10000&send=6000");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,ConnectionLost,RequestFailed");
  EXPECT_EQ(ev_.Data, PatternBytes(0, 6000));
}

TEST_F(HttpOutcome, HugeLengthOnAMemoryTransferIsNotAllocatedUpFront) {
  int64_t capacity = -1;
  http_->OnReadProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, float,
                              TStream* Data) {
    capacity = std::max(capacity, dynamic_cast<TMemoryStream*>(Data)->Capacity());
  };
  Fetch("/hugelength?len=2147483648&send=5000");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,ConnectionLost,RequestFailed");
  EXPECT_EQ(ev_.HeaderLength, 2147483648LL);
  EXPECT_EQ(ev_.LostFileSize, 2147483648LL);
  EXPECT_GT(capacity, 0);
  EXPECT_LE(capacity, 16 * 1024 * 1024);
}

TEST_F(HttpOutcome, NoResponseIsNoConnectionAndOpensNoFile) {
  for (const char* path : {"/close-before-status", "/garbage"}) {
    SCOPED_TRACE(path);
    ev_.Reset();
    const std::string out = dir_.File("never.bin");
    Fetch(path, out);
    EXPECT_EQ(ev_.Joined(), "NoConnection,RequestFailed");
    EXPECT_EQ(http_->StatusCode(), -1);
    EXPECT_FALSE(FileExists(out));
  }
  ev_.Reset();
  Fetch("http://127.0.0.1:1/nothing-listens");
  EXPECT_EQ(ev_.Joined(), "NoConnection,RequestFailed");
  // A server that never answers, with a receive time-out.
  ev_.Reset();
  http_->Timeouts().SetReceiveTimeout(300);
  Fetch("/never");
  EXPECT_EQ(ev_.Joined(), "NoConnection,RequestFailed");
}

TEST_F(HttpOutcome, SilentAndDrippingServersEndWithDefaultTimeOuts) {
  // Time-outs of 0 stand for finite defaults (60 s; lowered here to keep the
  // test short, with the component's settings left at 0).
  auto& defaults = httpimpl::DefaultTimeouts();
  const uint32_t saved = defaults.Receive.load();
  defaults.Receive.store(1500);
  struct Restore {
    std::atomic<uint32_t>& Value;
    uint32_t Saved;
    ~Restore() { Value.store(Saved); }
  } restore{defaults.Receive, saved};
  ASSERT_EQ(http_->Timeouts().ReceiveTimeout(), 0u);
  // Accepts and says nothing: no response.
  Fetch("/never");
  EXPECT_EQ(ev_.Joined(), "NoConnection,RequestFailed");
  // Falls silent halfway, or drips a byte every 100 ms (which keeps an idle
  // limit from ever running out): a lost connection within Fetch's wait
  // (20 s), which the 60-s defaults would outlast.
  for (const char* path : {"/stall?n=100000&after=1000", "/slow?n=100000&chunk=1&delay=100"}) {
    SCOPED_TRACE(path);
    ev_.Reset();
    Fetch(path, dir_.File("part.bin"));
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,ConnectionLost,RequestFailed");
  }
}

TEST_F(HttpOutcome, OtherStatusIsAnHTTPErrorWithTheBodyInMemory) {
  const std::string out = dir_.File("err.bin");
  Fetch("/status/404", out);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,HTTPError,RequestFailed");
  EXPECT_EQ(ev_.ErrorStatus, 404);
  EXPECT_NE(ev_.Data.find("<h1>Error 404</h1>"), std::string::npos);
  EXPECT_FALSE(FileExists(out));
  // 401 nobody answers, 416 without a resume position.
  for (auto [path, code] : {std::pair{"/auth/basic", 401}, std::pair{"/416?size=10", 416}}) {
    ev_.Reset();
    http_->OnHTTPPasswordRequest = nullptr;
    Fetch(path);
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,HTTPError,RequestFailed") << path;
    EXPECT_EQ(ev_.ErrorStatus, code);
  }
}

TEST_F(HttpOutcome, LocalFiles) {
  WritePatternFile(dir_.File("local.bin"), 7000);
  Fetch("file://" + dir_.File("local.bin"));
  EXPECT_EQ(ev_.Joined(), "Done");  // no header event for local files
  EXPECT_EQ(ev_.Data, PatternBytes(0, 7000));
  EXPECT_EQ(http_->StatusCode(), 200);
  EXPECT_EQ(http_->ContentLength(), 7000);
  ev_.Reset();
  Fetch("file://" + dir_.File("missing.bin"), dir_.File("copy.bin"));
  EXPECT_EQ(ev_.Joined(), "HTTPError,RequestFailed");
  EXPECT_EQ(ev_.ErrorStatus, 404);
  EXPECT_FALSE(FileExists(dir_.File("copy.bin")));
}

TEST_F(HttpOutcome, OutputFileThatCannotBeCreated) {
  // A write error with the reason, with a known length or without one:
  // never read into memory instead.
  Fetch("/bytes?n=100", dir_.File("no/such/folder/x.bin"));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,WriteError:" + std::to_string(ENOENT) + ",RequestFailed");
  ev_.Reset();
  Fetch("/nolength?n=100", dir_.File("no/such/folder/x.bin"));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,WriteError:" + std::to_string(ENOENT) + ",RequestFailed");
  EXPECT_EQ(ev_.Data, "");
}

TEST_F(HttpOutcome, OutputFileStreamClearsProtectionForTheOpen) {
  const std::string name = dir_.File("protected.bin");
  WriteTextFile(name, "old content");
  ASSERT_TRUE(ApplyFileAttributes(name, {atrReadOnly, atrHidden}));
  {
    TkvFileStream s(name, true, true);  // created anew: truncated
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("new", 3);
    // The attributes are back while the handle stays usable.
    EXPECT_TRUE(AttributesOf(name) == (TkvFileAttributes{atrReadOnly, atrHidden}));
    s.WriteBuffer("!", 1);
  }
  EXPECT_EQ(ReadWholeFile(name), "new!");
  {
    TkvFileStream s(name, false, true);  // opened: kept
    EXPECT_EQ(s.Size(), 4);
  }
  try {
    TkvFileStream s(dir_.File("missing/dir/x.bin"), true, true);
    FAIL() << "opened a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file " + dir_.File("missing/dir/x.bin"));
  }
  // A protected output file is written over by a transfer.
  Fetch("/bytes?n=3000", name);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(name, 3000));
}

TEST_F(HttpOutcome, StoppedByTheHeaderEvent) {
  const std::string out = dir_.File("stopped.bin");
  ev_.OnHeader = [](bool& Continue) {
    EXPECT_TRUE(Continue);
    Continue = false;
  };
  Fetch("/bytes?n=50000", out);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,DownloadStopped");
  EXPECT_EQ(ev_.ProgressCount, 0);
  EXPECT_FALSE(FileExists(out));
}

TEST_F(HttpOutcome, WriteErrorOfAFullDevice) {
  // A full device is reported as a write error with its reason, never as a
  // lost connection.
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  http_->OutputFileAttributes().SetIncomplete({atrArchive});  // leave the device's attributes alone
  http_->OutputFileAttributes().SetComplete({atrArchive});
  Fetch("/bytes?n=10000", "/dev/full");
  ASSERT_TRUE(PumpUntil([this] { return ev_.Outcome().size() >= 3 && !http_->Busy(); }));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,WriteError:" + std::to_string(ENOSPC) + ",RequestFailed");
}

TEST_F(HttpOutcome, HeaderValuesLongerThanTheQueryBuffer) {
  Fetch("/hugeheader?size=5000&name=Content-Type");
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.HeaderContentType, "");  // not retrieved
  EXPECT_EQ(ev_.HeaderRaw, "");
  EXPECT_EQ(ev_.Data, "small body");
}

TEST_F(HttpOutcome, HeaderFarBeyondWhatTheClientAcceptsFailsTheResponse) {
  Fetch("/hugeheader?size=300000");
  EXPECT_EQ(ev_.Joined(), "NoConnection,RequestFailed");
}

TEST_F(HttpOutcome, ReadRangeWhileActiveAndAbortWhileIdle) {
  http_->Abort(true, true);  // not busy: nothing happens
  EXPECT_TRUE(ev_.Names.empty());
  http_->SetURL(Url("/slow?n=3000&chunk=1000&delay=100"));
  ASSERT_TRUE(http_->Read(false));
  EXPECT_EQ(http_->TransferRate(), -1.0f);
  EXPECT_FALSE(http_->ReadRange(5, 0, false));
  EXPECT_EQ(http_->ResumePosition(), 0);
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.ProgressCount, 1);  // one 4096 block holds the whole body
}

}  // namespace
