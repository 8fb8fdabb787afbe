#include <gtest/gtest.h>

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

#include "kelvora/Application.h"
#include "kelvora/kvThread.h"
#include "kelvora/qt/kvQtLoop.h"
#include "qt/QtTestSupport.h"

using namespace kelvora;
using namespace std::chrono_literals;
using kvtest::PumpUntil;

namespace {

class QtLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    loop = std::make_unique<TQtLoopBackend>();
    SetLoopBackend(loop.get());
  }
  void TearDown() override {
    SetLoopBackend(nullptr);
    loop.reset();
  }
  std::unique_ptr<TQtLoopBackend> loop;
};

}  // namespace

TEST_F(QtLoopTest, WorkerHandOffsRunOnTheUIThreadInOrder) {
  TkvCustomThread c(nullptr);
  std::vector<int> seen;
  std::thread::id handOffThread;
  bool finished = false;
  c.SetOnExecute([&](TObject*) {
    for (int i = 0; i < 200; ++i)
      c.Synchronize([&, i] {
        handOffThread = std::this_thread::get_id();
        seen.push_back(i);
      });
  });
  c.SetOnFinish([&](TObject*) { finished = true; });
  ASSERT_TRUE(c.Execute());
  ASSERT_TRUE(PumpUntil([&] { return finished; }));
  ASSERT_EQ(seen.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(seen[static_cast<size_t>(i)], i);
  EXPECT_EQ(handOffThread, std::this_thread::get_id());
  ASSERT_TRUE(PumpUntil([&] { return !c.Running(); }));
}

TEST_F(QtLoopTest, HandOffsAndPostedCallsAreServedInsideAModalQtDialog) {
  // Nothing of ours pumps while the dialog runs its own loop: the wake-up
  // must reach Qt's.
  QDialog dialog;
  TkvCustomThread c(nullptr);
  bool posted = false;
  c.SetOnExecute([&](TObject*) {
    LoopBackend().Post([&] { posted = true; });
    c.Synchronize([&] { dialog.accept(); });
  });
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, &dialog, &QDialog::reject);
  bound.start(20000);
  QTimer::singleShot(0, [&] { c.Execute(); });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted) << "the hand-off closed the dialog";
  EXPECT_TRUE(posted);
  ASSERT_TRUE(PumpUntil([&] { return !c.Running(); }));
}

TEST_F(QtLoopTest, WaitingJobKeepsTheUIServed) {
  TkvCustomThread c(nullptr);
  c.SetWaitThread(true);
  std::atomic<bool> bodyDone{false};
  int handed = 0;
  c.SetOnExecute([&](TObject*) {
    c.Synchronize([&] { ++handed; });
    c.Synchronize([&] { ++handed; });
    bodyDone = true;
  });
  EXPECT_TRUE(c.Execute());
  EXPECT_TRUE(bodyDone);
  EXPECT_EQ(handed, 2);
}

TEST_F(QtLoopTest, TimersFireUntilKilledAndAreKeyedByOwnerAndId) {
  int a = 0, b = 0;
  const int owner1 = 0, owner2 = 0;
  ASSERT_TRUE(loop->SetTimer(&owner1, 7, 5, [&] { ++a; }));
  ASSERT_TRUE(loop->SetTimer(&owner2, 7, 5, [&] { ++b; }));
  EXPECT_EQ(loop->TimerCount(), 2);
  // Replacing keeps one timer per key.
  ASSERT_TRUE(loop->SetTimer(&owner1, 7, 5, [&] { a += 100; }));
  EXPECT_EQ(loop->TimerCount(), 2);
  ASSERT_TRUE(PumpUntil([&] { return a >= 300 && b >= 3; }));
  EXPECT_EQ(a % 100, 0) << "only the replacing handler runs";

  loop->KillTimer(&owner1, 7);
  EXPECT_FALSE(loop->HasTimer(&owner1, 7));
  EXPECT_TRUE(loop->HasTimer(&owner2, 7));
  const int frozen = a;
  const int bNow = b;
  ASSERT_TRUE(PumpUntil([&] { return b >= bNow + 3; }));
  EXPECT_EQ(a, frozen);
  loop->KillTimer(&owner2, 7);
  EXPECT_EQ(loop->TimerCount(), 0);
}

TEST_F(QtLoopTest, TimerHandlerMayKillItsOwnTimer) {
  int fired = 0;
  const int owner = 0;
  ASSERT_TRUE(loop->SetTimer(&owner, 1, 1, [&] {
    ++fired;
    loop->KillTimer(&owner, 1);
  }));
  ASSERT_TRUE(PumpUntil([&] { return fired == 1 && !loop->HasTimer(&owner, 1); }));
  loop->ProcessMessages();
  EXPECT_EQ(fired, 1);
}

TEST_F(QtLoopTest, RunEndsWhenACallPostedFromAWorkerSetsTheStopFlag) {
  std::atomic<bool> stop{false};
  std::thread::id ranOn;
  std::thread worker([&] {
    std::this_thread::sleep_for(10ms);
    LoopBackend().Post([&] {
      ranOn = std::this_thread::get_id();
      stop = true;
    });
  });
  // Bound: a broken back-end ends the run through Qt's timer instead.
  bool bounded = false;
  QTimer::singleShot(20000, [&] {
    bounded = true;
    stop = true;
  });
  loop->Run(stop);
  worker.join();
  EXPECT_FALSE(bounded);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(QtLoopTest, ApplicationTerminateFromAWorkerEndsRun) {
  std::thread worker([] {
    std::this_thread::sleep_for(10ms);
    Application().Terminate();
  });
  bool bounded = false;
  QTimer::singleShot(20000, [&] {
    bounded = true;
    Application().Terminate();
  });
  Application().Run();
  worker.join();
  Application().ClearTerminated();
  EXPECT_FALSE(bounded);
}

TEST_F(QtLoopTest, WaitEndsWithTheSignalSetOnAnotherThread) {
  for (TWakeMask mask : {TWakeMask::SentCalls, TWakeMask::AnyInput}) {
    TSignal signal;
    std::thread setter([&] {
      std::this_thread::sleep_for(10ms);
      signal.Set();
    });
    TWaitResult r = TWaitResult::Timeout;
    const auto end = std::chrono::steady_clock::now() + 20s;
    // Other input may end a wait first; the signal ends the last one.
    while ((r = loop->WaitFor(&signal, 20000, mask)) == TWaitResult::Input && std::chrono::steady_clock::now() < end)
      loop->ProcessMessages();
    setter.join();
    EXPECT_EQ(r, TWaitResult::Signalled) << (mask == TWakeMask::SentCalls ? "SentCalls" : "AnyInput");
  }
}

TEST_F(QtLoopTest, WaitsTimeOutAndReportInput) {
  loop->ProcessMessages();
  EXPECT_EQ(loop->WaitFor(nullptr, 20, TWakeMask::SentCalls), TWaitResult::Timeout);

  // A pending posted call is input for AnyInput only.
  loop->Post([] {});
  EXPECT_EQ(loop->WaitFor(nullptr, 20, TWakeMask::AnyInput), TWaitResult::Input);
  loop->ProcessMessages();

  // A sent call waiting is input for both.
  std::atomic<bool> ran{false};
  std::thread sender([&] { LoopBackend().Send([&] { ran = true; }); });
  TWaitResult r = TWaitResult::Timeout;
  const auto end = std::chrono::steady_clock::now() + 20s;
  while ((r = loop->WaitFor(nullptr, 20000, TWakeMask::SentCalls)) != TWaitResult::Input &&
         std::chrono::steady_clock::now() < end) {
  }
  EXPECT_EQ(r, TWaitResult::Input);
  loop->ServeSentCalls();
  sender.join();
  EXPECT_TRUE(ran);

  // Only Qt's own guard timer ends an idle AnyInput wait.
  loop->ProcessMessages();
  r = TWaitResult::Input;
  for (int i = 0; i < 100 && r == TWaitResult::Input; ++i) r = loop->WaitFor(nullptr, 20, TWakeMask::AnyInput);
  EXPECT_EQ(r, TWaitResult::Timeout);
}

TEST_F(QtLoopTest, FailingPostedCallIsRethrownAfterTheOthersRan) {
  int ran = 0;
  loop->Post([&] { ++ran; });
  loop->Post([] { throw std::runtime_error("posted failure"); });
  loop->Post([&] { ++ran; });
  EXPECT_THROW(loop->ProcessMessages(), std::runtime_error);
  EXPECT_EQ(ran, 2);
  EXPECT_NO_THROW(loop->ProcessMessages()) << "reported once";
}

TEST_F(QtLoopTest, SentCallExceptionGoesBackToTheWorker) {
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      LoopBackend().Send([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  ASSERT_TRUE(PumpUntil([&] { return caught.load(); }));
  worker.join();
}
