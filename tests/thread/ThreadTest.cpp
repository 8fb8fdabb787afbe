#include <gtest/gtest.h>

#include <chrono>

#include "ThreadTestSupport.h"
#include "kelvora/Application.h"
#include "kelvora/kvThread.h"
#include "support/Watchdog.h"

using namespace kelvora;
using namespace std::chrono_literals;
using kvtest::Gate;
using kvtest::PumpUntil;


TEST(ThreadChannel, SharedByAllThreadObjectsAndTornDownWithTheLast) {
  ASSERT_EQ(ThreadObjectCount(), 0);
  auto* a = new TkvCustomThread(nullptr);
  auto* b = new TkvCustomThread(nullptr);
  EXPECT_EQ(ThreadObjectCount(), 2);
  EXPECT_TRUE(ThreadChannelActive());
  delete a;
  EXPECT_TRUE(ThreadChannelActive());
  delete b;
  EXPECT_FALSE(ThreadChannelActive());
  TkvCustomThread c(nullptr);
  EXPECT_TRUE(ThreadChannelActive()) << "created again by the next thread object";
}

TEST(ThreadObject, NeverResumedObjectIsFreedPromptlyWithoutAnOSThread) {
  TkvCustomThread owner(nullptr);
  auto* t = new TkvEventThread(&owner);
  EXPECT_TRUE(t->Suspended());
  EXPECT_EQ(t->ThreadID(), 0);
  delete t;
  SUCCEED();
}

TEST(ThreadObject, ResumeClearsSuspendedOnlyWhenTheCountReachesZero) {
  TkvCustomThread owner(nullptr);
  TkvEventThread* t = owner.Thread();
  t->Suspend();  // count 2
  EXPECT_EQ(t->Resume(), 2);
  EXPECT_TRUE(t->Suspended());
  t->Suspend();
  t->Resume();
  EXPECT_TRUE(t->Suspended());
}

TEST(Execute, RunsTheBodyOnAWorkerAndHandlersOnTheUIThread) {
  TkvCustomThread c(nullptr);
  std::thread::id bodyThread, syncThread, finishThread;
  TObject* sender = nullptr;
  bool finished = false;
  c.SetOnExecute([&](TObject* s) {
    sender = s;
    bodyThread = std::this_thread::get_id();
    c.Synchronize([&] { syncThread = std::this_thread::get_id(); });
  });
  c.SetOnFinish([&](TObject*) {
    finishThread = std::this_thread::get_id();
    finished = true;
  });
  EXPECT_TRUE(c.Execute());
  ASSERT_TRUE(PumpUntil([&] { return finished; }));
  EXPECT_EQ(sender, &c);
  EXPECT_NE(bodyThread, std::this_thread::get_id());
  EXPECT_EQ(syncThread, std::this_thread::get_id());
  EXPECT_EQ(finishThread, std::this_thread::get_id());
  ASSERT_TRUE(PumpUntil([&] { return !c.Running(); }));
}

TEST(Synchronize, OnTheUIThreadWithoutAJobRunsTheMethod) {
  kvtest::Watchdog watchdog("Synchronize on the UI thread", 20s);
  TkvCustomThread c(nullptr);
  int ran = 0;
  c.Synchronize([&] { ++ran; });
  c.Thread()->Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 2);
  // Also after a job has come and gone.
  c.SetOnExecute([](TObject*) {});
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return !c.Running(); }));
  c.Synchronize([&] { ++ran; });
  EXPECT_EQ(ran, 3);
}

TEST(Priority, ValuesOutsideTheTableReadAsNormal) {
  EXPECT_EQ(OSValueToPriority(3), tpNormal);
  EXPECT_EQ(OSValueToPriority(NiceToOSValue(7)), tpNormal);
  EXPECT_EQ(OSValueToPriority(-15), tpIdle);
  EXPECT_EQ(PriorityToOSValue(tpTimeCritical), 15);
}

TEST(WaitThread, WaitsForTheJobWhileTheUIStaysResponsive) {
  TkvCustomThread c(nullptr);
  c.SetWaitThread(true);
  bool postedRan = false;
  std::atomic<bool> bodyDone{false};
  c.SetOnExecute([&](TObject*) {
    LoopBackend().Post([&] { postedRan = true; });
    c.Synchronize([] {});
    bodyDone = true;
  });
  EXPECT_TRUE(c.Execute());
  EXPECT_TRUE(bodyDone);
  EXPECT_TRUE(postedRan);
}

TEST(WaitThread, TimeoutWithoutHandlerStopsTheJob) {
  TkvCustomThread c(nullptr);
  c.SetWaitThread(true);
  c.SetWaitTimeout(50);
  Gate release;
  std::atomic<bool> unwound{false};
  bool finished = false;
  c.SetOnExecute([&](TObject*) {
    release.Wait();
    try {
      c.Synchronize([] {});
    } catch (const EThreadStop&) {
      unwound = true;
      throw;
    }
  });
  c.SetOnFinish([&](TObject*) { finished = true; });
  EXPECT_FALSE(c.Execute());
  release.Open();
  ASSERT_TRUE(PumpUntil([&] { return unwound.load(); }));
  EXPECT_FALSE(finished);
}

TEST(WaitThread, HandlerThatClearsStopJobLetsTheJobRunOn) {
  TkvCustomThread c(nullptr);
  c.SetWaitThread(true);
  c.SetWaitTimeout(50);
  Gate release;
  int timeouts = 0;
  bool finished = false;
  c.OnWaitTimeout = [&](TObject* s, bool& stop) {
    EXPECT_EQ(s, &c);
    ++timeouts;
    stop = false;
  };
  c.SetOnExecute([&](TObject*) { release.Wait(); });
  c.SetOnFinish([&](TObject*) { finished = true; });
  EXPECT_TRUE(c.Execute());
  EXPECT_EQ(timeouts, 1);
  release.Open();
  ASSERT_TRUE(PumpUntil([&] { return finished; }));
}

TEST(Exceptions, MarshalledExceptionIsDroppedOrRaisedInTheWorker) {
  for (bool handle : {true, false}) {
    TkvCustomThread c(nullptr);
    c.SetHandleExceptions(handle);
    std::atomic<bool> continued{false}, surfaced{false};
    bool finished = false;
    c.SetOnExecute([&](TObject*) {
      try {
        c.Synchronize([] { throw EConvertError("handler failed"); });
        continued = true;
      } catch (const EConvertError&) {
        surfaced = true;
      }
    });
    c.SetOnFinish([&](TObject*) { finished = true; });
    c.Execute();
    ASSERT_TRUE(PumpUntil([&] { return finished; }));
    EXPECT_EQ(continued.load(), handle);
    EXPECT_EQ(surfaced.load(), !handle);
  }
}

TEST(Exceptions, BodyExceptionReachesOnExceptionAndTheFinishStepStillRuns) {
  TkvCustomThread c(nullptr);
  std::string log;
  c.SetOnExecute([](TObject*) { throw std::runtime_error("network down"); });
  c.SetOnException([&](TObject* s) {
    EXPECT_EQ(s, &c);
    log += "exception;";
  });
  c.SetOnFinish([&](TObject*) { log += "finish;"; });
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return log.size() >= 17; }));
  EXPECT_EQ(log, "exception;finish;");
}

TEST(Terminate, FromInsideTheBodyEndsItWithoutTheFinishStep) {
  TkvCustomThread c(nullptr);
  std::atomic<bool> after{false};
  bool finished = false;
  c.SetOnExecute([&](TObject*) {
    c.Terminate(true);
    after = true;
  });
  c.SetOnFinish([&](TObject*) { finished = true; });
  TkvEventThread* job = nullptr;
  c.Execute();
  job = c.Thread();
  ASSERT_TRUE(PumpUntil([&] { return job->Finished().IsSet(); }));
  EXPECT_FALSE(after);
  EXPECT_FALSE(finished);
  EXPECT_FALSE(c.Running());
  EXPECT_EQ(c.Thread(), job) << "the thread object is not replaced";
}

TEST(Terminate, PoliteStopIsSeenByTheBody) {
  TkvCustomThread c(nullptr);
  std::atomic<bool> started{false};
  bool finished = false;
  c.SetOnExecute([&](TObject*) {
    started = true;
    while (!c.Terminated()) std::this_thread::sleep_for(1ms);
  });
  c.SetOnFinish([&](TObject*) { finished = true; });
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
  c.Terminate(false);
  ASSERT_TRUE(PumpUntil([&] { return finished; }));
}

TEST(Destroy, ComponentFreedWhileItsJobRunsDeliversNothingMore) {
  auto* owner = new TComponent(nullptr);
  auto* c = new TkvCustomThread(owner);
  Gate release;
  std::atomic<bool> running{false}, unwound{false};
  auto handlerRuns = std::make_shared<std::atomic<int>>(0);
  c->SetOnExecute([&, handlerRuns](TObject*) {
    running = true;
    release.Wait();
    try {
      // The component is gone by now: only the job's own state is touched.
      SynchronizeCurrentJob([handlerRuns] { ++*handlerRuns; });
    } catch (const EThreadStop&) {
      unwound = true;
      throw;
    }
  });
  c->SetOnFinish([handlerRuns](TObject*) { ++*handlerRuns; });
  c->Execute();
  ASSERT_TRUE(PumpUntil([&] { return running.load(); }));
  delete owner;  // takes the component with it
  release.Open();
  ASSERT_TRUE(PumpUntil([&] { return unwound.load(); }));
  Application().ProcessMessages();
  EXPECT_EQ(*handlerRuns, 0);
}

TEST(FreeOwnerOnFinish, FreesTheOwnerAfterTheFinishHandler) {
  struct TOwner : TComponent {
    bool* gone;
    TOwner(bool* g) : TComponent(nullptr), gone(g) {}
    ~TOwner() override { *gone = true; }
  };
  bool gone = false;
  auto* owner = new TOwner(&gone);
  auto* c = new TkvCustomThread(owner);
  c->SetFreeOwnerOnFinish(true);
  bool finished = false;
  c->SetOnExecute([](TObject*) {});
  c->SetOnFinish([&](TObject*) { finished = true; });
  c->Execute();
  ASSERT_TRUE(PumpUntil([&] { return gone; }));
  EXPECT_TRUE(finished);
  // The old thread object frees itself once its procedure has ended.
  ASSERT_TRUE(PumpUntil([&] { return ThreadObjectCount() == 0; }));
}
