#include <gtest/gtest.h>

#include <thread>

#include "kelvora/Application.h"
#include "kelvora/PlainLoop.h"
#include "kelvora/Types.h"

using namespace kelvora;

namespace {
TPlainLoopBackend& Plain() { return dynamic_cast<TPlainLoopBackend&>(LoopBackend()); }
}  // namespace

TEST(PlainLoop, SendRunsOnTheUIThreadAndHandsTheExceptionBack) {
  std::thread::id ranOn;
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    LoopBackend().Send([&] { ranOn = std::this_thread::get_id(); });
    try {
      LoopBackend().Send([] { throw EConvertError("bad value"); });
    } catch (const EConvertError& e) {
      caught = e.what();
    }
    done = true;
  });
  // Serve until the worker is done.
  while (!done) {
    if (LoopBackend().WaitFor(nullptr, 10, TWakeMask::SentCalls) == TWaitResult::Input) LoopBackend().ServeSentCalls();
  }
  worker.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "bad value");
}

TEST(PlainLoop, CancelledSendIsDroppedAndReleasesTheSender) {
  std::atomic<bool> cancel{false};
  std::atomic<int> result{-1};
  bool ran = false;
  std::thread worker([&] { result = LoopBackend().Send([&] { ran = true; }, &cancel) ? 1 : 0; });
  while (!LoopBackend().HasSentCalls()) std::this_thread::yield();
  cancel = true;
  LoopBackend().DropCancelledCalls();
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ran);
}

TEST(PlainLoop, SentOnlyWaitIgnoresPostedCallsButAnyInputWakes) {
  bool ran = false;
  LoopBackend().Post([&] { ran = true; });
  EXPECT_EQ(LoopBackend().WaitFor(nullptr, 20, TWakeMask::SentCalls), TWaitResult::Timeout);
  EXPECT_FALSE(ran);
  EXPECT_EQ(LoopBackend().WaitFor(nullptr, 20, TWakeMask::AnyInput), TWaitResult::Input);
  Application().ProcessMessages();
  EXPECT_TRUE(ran);
}

TEST(PlainLoop, SignalSetFromAnotherThreadEndsTheWait) {
  TSignal s;
  std::thread t([&] { s.Set(); });
  TWaitResult r;
  do r = LoopBackend().WaitFor(&s, 0, TWakeMask::SentCalls);
  while (r != TWaitResult::Signalled);
  t.join();
  SUCCEED();
}

TEST(PlainLoop, TimersAreKeyedByOwnerAndIdAndCanBeRefused) {
  int owner1 = 0, owner2 = 0;
  int fired1 = 0, fired2 = 0;
  ASSERT_TRUE(LoopBackend().SetTimer(&owner1, 1, 1, [&] { ++fired1; }));
  ASSERT_TRUE(LoopBackend().SetTimer(&owner2, 1, 1, [&] { ++fired2; }));
  ASSERT_TRUE(LoopBackend().SetTimer(&owner1, 1, 1, [&] { fired1 += 100; }));  // replaces
  EXPECT_EQ(Plain().TimerCount(), 2);
  while (fired1 == 0 || fired2 == 0) {
    LoopBackend().WaitFor(nullptr, 0, TWakeMask::AnyInput);
    Application().ProcessMessages();
  }
  EXPECT_GE(fired1, 100);
  LoopBackend().KillTimer(&owner1, 1);
  LoopBackend().KillTimer(&owner2, 1);
  EXPECT_EQ(Plain().TimerCount(), 0);

  Plain().SetTimerLimit(1);
  EXPECT_TRUE(LoopBackend().SetTimer(&owner1, 7, 1000, [] {}));
  EXPECT_FALSE(LoopBackend().SetTimer(&owner2, 7, 1000, [] {}));
  EXPECT_TRUE(LoopBackend().SetTimer(&owner1, 7, 500, [] {})) << "replacing an existing timer needs no new one";
  LoopBackend().KillTimer(&owner1, 7);
  Plain().SetTimerLimit(-1);
}

TEST(Application, TerminateFromAWorkerEndsTheMainLoop) {
  Application().ClearTerminated();
  int posted = 0;
  std::thread t([&] {
    LoopBackend().Post([&] { ++posted; });
    LoopBackend().Send([] {});
    Application().Terminate();
  });
  Application().Run();
  t.join();
  EXPECT_TRUE(Application().Terminated());
  EXPECT_EQ(posted, 1);
  Application().ClearTerminated();
}

TEST(Application, FailingPostedCallDoesNotLoseTheOthers) {
  int ran = 0;
  LoopBackend().Post([] { throw Exception("boom"); });
  LoopBackend().Post([&] { ++ran; });
  EXPECT_THROW(Application().ProcessMessages(), Exception);
  EXPECT_EQ(ran, 1);
}

TEST(Application, CommandLineComesFromTheSystemAndCanBeSet) {
  EXPECT_NE(Application().ParamStr(0).find("_tests"), std::string::npos);  // this test program
  auto saved = std::vector<std::string>{Application().ParamStr(0)};
  Application().SetArguments({"prog", "/afterupgrade", "x y"});
  EXPECT_EQ(Application().ParamCount(), 2);
  EXPECT_EQ(Application().ParamStr(2), "x y");
  EXPECT_EQ(Application().ParamStr(3), "");
  Application().SetArguments(saved);
}
