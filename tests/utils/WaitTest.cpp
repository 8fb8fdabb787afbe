// Waiting with a live loop, and application control.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kelvora/Application.h"
#include "kelvora/LoopBackend.h"
#include "kelvora/kvUtils.h"

using namespace kelvora;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

class WaitTest : public ::testing::Test {
 protected:
  void SetUp() override { Application().ClearTerminated(); }
  void TearDown() override {
    Application().ProcessMessages();
    Application().ClearTerminated();
    Application().SetMainWindowClose(nullptr);
    LoopBackend().KillTimer(this, 1);
    LoopBackend().KillTimer(this, 2);
  }
};

}  // namespace

TEST_F(WaitTest, SignalWaitFromAPostedCallEndsTheWait) {
  THandle event = 0;
  bool ran = false;
  LoopBackend().Post([&] {
    ran = true;
    EXPECT_NE(event, 0);
    EXPECT_NE(event, -1);
    SignalWait(event);
  });
  WaitForSignal(event, 0, true);  // no time limit: only the signal ends it
  EXPECT_TRUE(ran);
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, TimersAndPostedCallsRunDuringTheWait) {
  THandle event = 0;
  int ticks = 0;
  ASSERT_TRUE(LoopBackend().SetTimer(this, 1, 5, [&] {
    if (++ticks == 3) SignalWait(event);
  }));
  WaitForSignal(event, 0, false);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, TimeOutWithoutInput) {
  THandle event = 0;
  const auto start = Clock::now();
  WaitForSignal(event, 60, false);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, milliseconds(55));
  EXPECT_LT(took, std::chrono::seconds(30)) << "milliseconds, not seconds";
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, StopOnTerminateReturnsAtOnceWhenAlreadyTerminating) {
  Application().Terminate();
  THandle event = 0;
  bool ran = false;
  LoopBackend().Post([&] { ran = true; });
  WaitForSignal(event, 0, true);  // no time limit and no signal: returns only for the termination
  EXPECT_FALSE(ran);  // nothing was processed
  EXPECT_EQ(event, -1);
  Application().ProcessMessages();
  EXPECT_TRUE(ran);
}

TEST_F(WaitTest, TerminatingDuringTheWaitEndsIt) {
  THandle event = 0;
  LoopBackend().Post([] { CloseApplication(); });
  WaitForSignal(event, 0, true);
  EXPECT_TRUE(Application().Terminated());
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, WithoutStopOnTerminateOnlyTheSignalEndsIt) {
  THandle event = 0;
  int ticks = 0;
  LoopBackend().Post([] { Application().Terminate(); });
  ASSERT_TRUE(LoopBackend().SetTimer(this, 1, 5, [&] {
    if (++ticks == 4) SignalWait(event);
  }));
  WaitForSignal(event, 0, false);
  EXPECT_EQ(ticks, 4);
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(WaitTest, SignalFromAnotherThread) {
  THandle event = 0;
  std::atomic<THandle> seen{0};
  LoopBackend().Post([&] { seen = event; });
  std::thread worker([&] {
    while (seen.load() == 0) std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(20));
    THandle h = seen.load();
    SignalWait(h);
  });
  WaitForSignal(event, 0, false);
  worker.join();
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, SignalWaitAfterTheWaitDoesNothing) {
  THandle event = 0, copy = 0;
  LoopBackend().Post([&] {
    copy = event;
    SignalWait(event);
  });
  WaitForSignal(event, 0, false);
  EXPECT_EQ(event, -1);
  EXPECT_NO_THROW(SignalWait(event));
  EXPECT_NO_THROW(SignalWait(copy));  // closed: finds nothing
  THandle zero = 0;
  EXPECT_NO_THROW(SignalWait(zero));
  // A later wait is not ended by the old handle.
  THandle next = 0;
  const auto start = Clock::now();
  LoopBackend().Post([&] { SignalWait(copy); });
  WaitForSignal(next, 80, false);
  EXPECT_GE(Clock::now() - start, milliseconds(75));
  EXPECT_NE(copy, -1);
}

TEST_F(WaitTest, NestedWaitsHaveTheirOwnEvents) {
  THandle outer = 0, inner = 0;
  std::vector<std::string> order;
  LoopBackend().Post([&] {
    LoopBackend().Post([&] {
      EXPECT_NE(inner, outer);
      SignalWait(outer);  // the outer wait ends only after the inner one
      SignalWait(inner);
    });
    WaitForSignal(inner, 0, false);
    order.push_back("inner");
  });
  WaitForSignal(outer, 0, false);
  order.push_back("outer");
  EXPECT_EQ(order, (std::vector<std::string>{"inner", "outer"}));
  EXPECT_EQ(inner, -1);
  EXPECT_EQ(outer, -1);
}

TEST_F(WaitTest, AnErrorInsideResetsTheHandle) {
  THandle event = 0;
  LoopBackend().Post([] { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(WaitForSignal(event, 0, false), std::runtime_error);
  EXPECT_EQ(event, -1);
}

TEST_F(WaitTest, CloseApplicationAsksTheMainWindowFirst) {
  std::vector<std::string> calls;
  Application().SetMainWindowClose([&] {
    calls.push_back(Application().Terminated() ? "close after terminate" : "close");
  });
  CloseApplication();
  EXPECT_EQ(calls, std::vector<std::string>{"close"});
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(WaitTest, CloseApplicationWithoutAMainWindow) {
  CloseApplication();
  EXPECT_TRUE(Application().Terminated());
}

TEST(SystemHelpers, ClearSized) {
  unsigned char rec[148];
  std::memset(rec, 0xAB, sizeof rec);
  ClearSized(rec, sizeof rec);
  uint32_t size = 0;
  std::memcpy(&size, rec, 4);
  EXPECT_EQ(size, 148u);
  for (size_t i = 4; i < sizeof rec; ++i) ASSERT_EQ(rec[i], 0) << i;
  unsigned char small[2] = {1, 2};
  ClearSized(small, 2);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(small[1], 0);
}
