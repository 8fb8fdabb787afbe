// Stopping and chaining transfers: forced and gentle aborts while a server
// stalls, aborts from event handlers, the wait time-out of a waiting read,
// destruction mid-transfer, and transfers started from the events of the
// previous one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "http/HttpFixture.h"
#include "http/HttpTestUtil.h"
#include "kelvora/Application.h"
#include "support/FaultServer.h"
#include "support/Watchdog.h"

using namespace kelvora;
using namespace kvtest;

namespace {

class HttpLifecycle : public FaultServerHttpTest {
 protected:
  // Starts a transfer that stalls after 8000 of 100000 bytes and waits for
  // the bytes that come.
  void StartStalled(const std::string& Out) {
    http_->SetURL(server_->Url("/stall?n=100000&after=8000"));
    http_->SetOutputFileName(Out);
    ASSERT_TRUE(http_->Read(false));
    ASSERT_TRUE(PumpUntil([this] { return ev_.ProgressCount >= 1; })) << ev_.Joined();
  }

  TempDir dir_;
};

TEST_F(HttpLifecycle, ForcedAbortWhileTheServerStalls) {
  const std::string out = dir_.File("stalled.bin");
  StartStalled(out);
  http_->Abort(false, true);
  // The abort step ran inside Abort: nothing more comes from that transfer.
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
  EXPECT_FALSE(http_->Busy());
  PumpFor(300);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
  EXPECT_TRUE(FileExists(out));
#ifndef _WIN32  // Wine keeps only a file's hidden and system attributes
  EXPECT_TRUE(AttributesOf(out) == TkvOutputFileAttributes::DefaultIncomplete());
#endif
  EXPECT_EQ(ReadWholeFile(out), PatternBytes(0, 4096));  // the one block handed over
  // The component is ready for the next transfer at once.
  ev_.Reset();
  http_->SetURL(server_->Url("/bytes?n=3000"));
  ASSERT_TRUE(http_->Read(true));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(out, 3000));
}

TEST_F(HttpLifecycle, ForcedAbortCanDeleteTheOutput) {
  const std::string out = dir_.File("gone.bin");
  StartStalled(out);
  http_->Abort(true, true);
  EXPECT_FALSE(FileExists(out));
  PumpFor(200);
  EXPECT_FALSE(FileExists(out));  // not re-created by the old worker
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
}

TEST_F(HttpLifecycle, GentleAbortStopsAtTheNextCheckEvenInANetworkWait) {
  const std::string out = dir_.File("gentle.bin");
  StartStalled(out);
  http_->Abort(true, false);
  EXPECT_TRUE(http_->Busy());
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
  EXPECT_FALSE(FileExists(out));
}

TEST_F(HttpLifecycle, AbortFromAProgressHandler) {
  for (bool force : {false, true}) {
    SCOPED_TRACE(force);
    ev_.Reset();
    ev_.OnProgress = [&] {
      if (ev_.ProgressCount == 2) http_->Abort(false, force);
    };
    http_->SetURL(server_->Url("/bytes?n=200000"));
    http_->SetOutputFileName("");
    ASSERT_TRUE(http_->Read(false));
    ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
    PumpFor(100);
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
    EXPECT_EQ(ev_.ProgressCount, 2);
  }
}

TEST_F(HttpLifecycle, WaitingReadThatTimesOut) {
  // No handler: the job is stopped and the read reports it.
  http_->ThreadComponent().SetWaitTimeout(300);
  http_->SetURL(server_->Url("/never"));
  EXPECT_FALSE(http_->Read(true));
  EXPECT_EQ(ev_.Joined(), "WaitTimeout");
  EXPECT_FALSE(http_->WaitThread());  // restored
  PumpFor(200);
  EXPECT_EQ(ev_.Joined(), "WaitTimeout");
  EXPECT_FALSE(http_->Busy());
  // A handler lets it run on: the read returns true and the transfer ends
  // on its own later.
  ev_.Reset();
  http_->OnWaitTimeoutExpired = [](TObject*, bool& StopJob) { StopJob = false; };
  http_->SetURL(server_->Url("/slow?n=3000&chunk=1000&delay=400"));
  http_->SetTransferBufferSize(1000);
  EXPECT_TRUE(http_->Read(true));
  ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
  EXPECT_EQ(ev_.Data, PatternBytes(0, 3000));
}

TEST_F(HttpLifecycle, WaitingReadReturnsAfterAForcedAbort) {
  Watchdog watchdog("a waiting read stopped at once", std::chrono::seconds(30));
  // From the progress handler, and from a timer as a Cancel button would.
  for (bool fromTimer : {false, true}) {
    SCOPED_TRACE(fromTimer);
    ev_.Reset();
    if (fromTimer) {
      int owner = 0;
      LoopBackend().SetTimer(&owner, 1, 200, [&] {
        LoopBackend().KillTimer(&owner, 1);
        http_->Abort(false, true);
      });
    } else {
      ev_.OnProgress = [this] { http_->Abort(false, true); };
    }
    http_->SetURL(server_->Url("/stall?n=100000&after=8000"));
    EXPECT_TRUE(http_->ReadRange(0, 0, true));
    EXPECT_FALSE(http_->Busy());
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
  }
  // A waiting read started again from a handler of the first is waited for.
  ev_.Reset();
  bool again = false;
  ev_.OnFinished = [&] {
    if (again) return;
    again = true;
    http_->ReleaseOutput();
    http_->SetURL(server_->Url("/bytes?n=500"));
    EXPECT_TRUE(http_->Read(false));
  };
  http_->SetURL(server_->Url("/bytes?n=100"));
  EXPECT_TRUE(http_->ReadRange(0, 0, true));
  EXPECT_FALSE(http_->Busy());
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done,HeaderInfo,Done");
}

TEST_F(HttpLifecycle, StoppingWhileAWorkerEventHandsOffToTheUI) {
  // The status handler hands its text to the UI thread while the UI thread
  // stops the transfer: gently, at once, by releasing its output, or by
  // freeing the component. None of them may wait for the other, and the
  // transfer still ends with its event.
  Watchdog watchdog("stopping during a worker event", std::chrono::seconds(60));
  for (int action = 0; action < 4; ++action) {
    SCOPED_TRACE(action);
    // Shared with the handler, which may still be unwinding on the worker.
    struct Flags {
      std::atomic<bool> entered{false}, acting{false}, left{false};
      std::atomic<int> handedOff{0};
    };
    auto f = std::make_shared<Flags>();
    std::atomic<bool>& entered = f->entered;
    std::atomic<int>& handedOff = f->handedOff;
    ev_.Reset();
    http_->OnStatusChange = [f](TObject*, int32_t, const std::string&) {
      if (f->entered.exchange(true)) return;
      struct Left {
        Flags& F;
        ~Left() { F.left = true; }
      } left{*f};
      for (int i = 0; i < 500 && !f->acting; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the UI thread is inside the stop now
      SynchronizeCurrentJob([f] { ++f->handedOff; });
    };
    http_->SetURL(server_->Url("/stall?n=100000&after=8000"));
    http_->SetOutputFileName("");
    ASSERT_TRUE(http_->Read(false));
    ASSERT_TRUE(PumpUntil([&] { return entered.load(); }));
    f->acting = true;
    switch (action) {
      case 0: http_->Abort(false, false); break;
      case 1: http_->Abort(false, true); break;
      case 2: http_->ReleaseOutput(); break;
      case 3: http_.reset(); break;
    }
    if (action == 3) {
      EXPECT_TRUE(f->left) << "the handler ended before the component went";
      PumpFor(200);
      EXPECT_EQ(handedOff, 0);
      http_ = std::make_unique<TkvCustomHTTP>(nullptr);
      ev_.Attach(*http_);
      continue;
    }
    if (action == 2) {
      // Released under the running job: the transfer still ends, as an
      // abort, without a further call from the host.
      ASSERT_TRUE(PumpUntil([&] { return handedOff == 1 && ev_.Finished() && !http_->Busy(); })) << ev_.Joined();
      PumpFor(100);
    } else if (action == 0) {
      ASSERT_TRUE(PumpUntil([&] { return handedOff == 1; }));
      http_->Abort(false, true);
    }
    EXPECT_FALSE(http_->Busy());
    const auto outcome = ev_.Outcome();
    EXPECT_TRUE(!outcome.empty() && outcome.back() == "TransferAborted") << ev_.Joined();
    EXPECT_TRUE(PumpUntil([&] { return f->left.load(); }));
  }
}

TEST_F(HttpLifecycle, DestroyedWhileTheServerStalls) {
  StartStalled(dir_.File("destroyed.bin"));
  http_.reset();
  PumpFor(200);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo");
}

TEST_F(HttpLifecycle, ComponentFreedByItsOwnHandler) {
  // From a completion event, a progress event and a login request: the
  // component goes, nothing of it is touched afterwards, no event follows.
  for (int where = 0; where < 3; ++where) {
    SCOPED_TRACE(where);
    auto* h = new TkvCustomHTTP(nullptr);
    int events = 0;
    bool freed = false;
    auto free = [&] {
      ++events;
      delete h;
      freed = true;
    };
    h->OnDone = [&](TObject*, const std::string&, int64_t, TStream*) { where == 0 ? free() : void(++events); };
    h->OnReadProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, float,
                            TStream*) {
      if (where == 1 && !freed) free();
    };
    h->OnHTTPPasswordRequest = [&](TObject*, const std::string&, bool& TryAgain) {
      TryAgain = true;
      free();
    };
    h->OnRequestFailed = [&](TObject*) { ++events; };
    h->SetURL(server_->Url(where == 2 ? "/auth/basic" : "/bytes?n=30000"));
    ASSERT_TRUE(h->Read(false));
    ASSERT_TRUE(PumpUntil([&] { return freed; }));
    PumpFor(150);
    EXPECT_EQ(events, 1);
  }
}

TEST_F(HttpLifecycle, NextTransferStartedFromTheFailureEvents) {
  // The upgrade engine's pattern: release the output, then read the next
  // file, from inside the events of the failed one. The rest of the first
  // completion step must leave the second transfer alone.
  const std::string first = dir_.File("first.bin"), second = dir_.File("second.bin");
  bool started = false;
  http_->OnConnectionLost = [&](TObject*, const std::string&, int64_t, int64_t, TStream*) {
    ev_.Names.push_back("ConnectionLost");
    http_->ReleaseOutput();
    http_->SetOutputFileName(second);
    http_->SetURL(server_->Url("/bytes?n=30000"));
    started = http_->Read(false);
  };
  http_->SetURL(server_->Url("/truncated?n=10000&send=5000"));
  http_->SetOutputFileName(first);
  ASSERT_TRUE(http_->Read(false));
  ASSERT_TRUE(PumpUntil([&] { return ev_.Outcome().size() >= 5 && !http_->Busy(); })) << ev_.Joined();
  EXPECT_TRUE(started);
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,ConnectionLost,RequestFailed,HeaderInfo,Done");
  EXPECT_TRUE(FileHoldsPattern(first, 5000));
  EXPECT_TRUE(FileHoldsPattern(second, 30000));
  EXPECT_TRUE(AttributesOf(second) == TkvOutputFileAttributes::DefaultComplete());

  // From OnHTTPError, into memory.
  ev_.Reset();
  std::string data;
  http_->OnHTTPError = [&](TObject*, int32_t, TStream*) {
    ev_.Names.push_back("HTTPError");
    http_->ReleaseOutput();
    http_->SetOutputFileName("");
    http_->SetURL(server_->Url("/bytes?n=9000"));
    EXPECT_TRUE(http_->Read(false));
  };
  http_->OnDone = [&](TObject*, const std::string&, int64_t, TStream* D) {
    ev_.Names.push_back("Done");
    data = dynamic_cast<TMemoryStream*>(D)->ToString();
  };
  http_->SetURL(server_->Url("/status/404"));
  ASSERT_TRUE(http_->Read(false));
  ASSERT_TRUE(PumpUntil([&] { return !data.empty() && !http_->Busy(); })) << ev_.Joined();
  EXPECT_EQ(ev_.Joined(), "HeaderInfo,HTTPError,RequestFailed,HeaderInfo,Done");
  EXPECT_EQ(data, PatternBytes(0, 9000));
}

TEST_F(HttpLifecycle, ManyTransfersInARowWithAborts) {
  // Complete, aborted at once and aborted gently, in turn: each ends with
  // exactly its own outcome.
  for (int i = 0; i < 24; ++i) {
    SCOPED_TRACE(i);
    ev_.Reset();
    const int kind = i % 3;
    http_->SetURL(server_->Url(kind == 0 ? "/bytes?n=20000" : "/stall?n=100000&after=5000"));
    http_->SetOutputFileName(i % 2 ? dir_.File("run.bin") : "");
    ASSERT_TRUE(http_->Read(false));
    if (kind == 0) {
      ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
      EXPECT_EQ(ev_.Joined(), "HeaderInfo,Done");
      continue;
    }
    ASSERT_TRUE(PumpUntil([this] { return ev_.ProgressCount >= 1; }));
    http_->Abort(true, kind == 1);
    ASSERT_TRUE(PumpUntil([this] { return ev_.Finished() && !http_->Busy(); }));
    EXPECT_EQ(ev_.Joined(), "HeaderInfo,TransferAborted");
  }
}

}  // namespace
