// Thread priorities as nice values: what a job runs at, with and without the
// right to raise it.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "ThreadTestSupport.h"
#include "kelvora/kvThread.h"

using namespace kelvora;
using kvtest::Gate;
using kvtest::PumpUntil;

TEST(Execute, ReplacesARunningJobCarryingHandlersAndPriority) {
  if (::geteuid() != 0) GTEST_SKIP() << "raising a thread's priority needs privileges";
  TkvCustomThread c(nullptr);
  c.SetPriority(tpHigher);
  std::atomic<int> jobs{0};
  std::atomic<int> niceSeen[3] = {99, 99, 99};
  std::atomic<bool> firstUnwound{false};
  int eventsAfterReplace = 0;
  bool replaced = false;
  Gate release;
  c.SetOnExecute([&](TObject*) {
    int n = jobs++;
    niceSeen[n] = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    if (n == 0) {
      release.Wait();
      try {
        c.Synchronize([&] { if (replaced) ++eventsAfterReplace; });
      } catch (const EThreadStop&) {
        firstUnwound = true;
        throw;
      }
    }
  });
  int finishes = 0;
  c.SetOnFinish([&](TObject*) { ++finishes; });
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return jobs == 1; }));
  TkvEventThread* first = c.Thread();
  c.Execute();  // stops the first job at once
  replaced = true;
  EXPECT_NE(c.Thread(), first);
  ASSERT_TRUE(PumpUntil([&] { return finishes == 1; }));
  release.Open();
  ASSERT_TRUE(PumpUntil([&] { return firstUnwound.load(); }));
  EXPECT_EQ(eventsAfterReplace, 0);
  EXPECT_EQ(finishes, 1) << "the stopped job's finish step never runs";
  EXPECT_EQ(niceSeen[0], -5);
  EXPECT_EQ(niceSeen[1], -5);
  EXPECT_EQ(OSValueToPriority(NiceToOSValue(-5)), tpHigher);
}

TEST(Priority, WithoutTheRightToRaiseItAJobRunsAtNormal) {
  // Root may raise it, so the check runs as an ordinary user in a child.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // From nice 0 (a suite started under "nice" must not change the
        // figures), then as an ordinary user.
        if (::geteuid() == 0 &&
            (::setpriority(PRIO_PROCESS, 0, 0) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
          std::_Exit(2);
        if (::getpriority(PRIO_PROCESS, 0) != 0) std::_Exit(0);  // cannot get back to 0: nothing to see
        TkvCustomThread c(nullptr);
        std::atomic<int> nice{99};
        std::atomic<bool> started{false};
        Gate release;
        c.SetOnExecute([&](TObject*) {
          nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
          started = true;
          release.Wait();
        });
        int failed = 0;
        for (TThreadPriority asked : {tpHigher, tpLowest}) {
          c.SetPriority(asked);
          started = false;
          c.Execute();
          if (!PumpUntil([&] { return started.load(); })) std::_Exit(4);
          const TThreadPriority seen = c.Priority();
          release.Open();
          if (!PumpUntil([&] { return !c.Running(); })) std::_Exit(5);
          release.open = false;
          // Raising is refused and reads back as tpNormal; lowering works.
          if (asked == tpHigher && (nice != 0 || seen != tpNormal)) failed |= 8;
          if (asked == tpLowest && (nice != 10 || seen != tpLowest)) failed |= 16;
        }
        std::_Exit(failed);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Execute, ReusesTheOSThreadBetweenJobsButNeverForAStoppedBodyOrALoweredPriority) {
  TkvCustomThread c(nullptr);
  std::atomic<int> tid{0}, nice{99};
  std::atomic<bool> hold{false}, held{false}, unwound{false};
  Gate release;
  int finishes = 0, events = 0;
  c.SetOnExecute([&](TObject*) {
    tid = static_cast<int>(::syscall(SYS_gettid));
    nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.load()));
    if (!hold) {
      c.Synchronize([&] { ++events; });
      return;
    }
    held = true;
    release.Wait();
    try {
      c.Synchronize([&] { ++events; });
    } catch (const EThreadStop&) {
      unwound = true;
      throw;
    }
  });
  c.SetOnFinish([&](TObject*) { ++finishes; });
  auto run = [&](int Finishes) {
    c.Execute();
    return PumpUntil([&] { return finishes == Finishes && !c.Running(); });
  };
  ASSERT_TRUE(run(1));
  const int first = tid;
  ASSERT_TRUE(run(2));
  EXPECT_EQ(tid, first) << "an idle thread takes the next job";

  // Suspended at its hand-off on a reused thread, released by Resume.
  hold = true;
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
  EXPECT_EQ(tid, first);
  c.Suspend();
  release.Open();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
  PumpUntil([&] { return std::chrono::steady_clock::now() > until; });
  EXPECT_EQ(events, 2) << "held while suspended";
  c.SetSuspended(false);
  ASSERT_TRUE(PumpUntil([&] { return finishes == 3 && !c.Running(); }));
  EXPECT_EQ(events, 3);

  // Stopped at once mid-body: the next job runs at once on another thread,
  // and the stopped body delivers nothing.
  release.open = false;
  held = false;
  c.Execute();
  ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
  const int stopped = tid;
  hold = false;
  ASSERT_TRUE(run(4));
  EXPECT_NE(tid, stopped);
  release.Open();
  ASSERT_TRUE(PumpUntil([&] { return unwound.load(); }));
  Application().ProcessMessages();
  EXPECT_EQ(finishes, 4);
  EXPECT_EQ(events, 4);

  // A thread once lowered is not given a job that asks for more.
  c.SetPriority(tpLowest);
  ASSERT_TRUE(run(5));
  EXPECT_EQ(nice, 10);
  c.SetPriority(tpNormal);
  ASSERT_TRUE(run(6));
  EXPECT_EQ(nice, ::getpriority(PRIO_PROCESS, 0)) << "the UI thread's own";
}
