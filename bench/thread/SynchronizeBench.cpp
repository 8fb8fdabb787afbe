// Cost of one hand-off from a worker to the UI thread and back, on the plain
// loop and (when built with Qt) on the Qt loop back-end, next to a bare
// mutex + condition-variable ping-pong between two threads measured in the
// same run (the floor a naive hand-off pays).
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "kelvora/Application.h"
#include "kelvora/kvThread.h"

#ifdef KELVORA_BENCH_QT
#include <QCoreApplication>

#include "kelvora/qt/kvQtLoop.h"
#endif

using namespace kelvora;
using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
  double usPerTrip;
  double cpuUsPerTrip;
};

Figures CondVarPingPong(int trips) {
  std::mutex m;
  std::condition_variable cv;
  int turn = 0;  // 0: worker asks, 1: UI answers
  auto cpu0 = CpuSeconds();
  auto t0 = Clock::now();
  std::thread ui([&] {
    for (int i = 0; i < trips; ++i) {
      std::unique_lock lk(m);
      cv.wait(lk, [&] { return turn == 1; });
      turn = 0;
      cv.notify_all();
    }
  });
  for (int i = 0; i < trips; ++i) {
    std::unique_lock lk(m);
    turn = 1;
    cv.notify_all();
    cv.wait(lk, [&] { return turn == 0; });
  }
  ui.join();
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  return {secs / trips * 1e6, (CpuSeconds() - cpu0) / trips * 1e6};
}

Figures SynchronizeRoundTrips(int trips) {
  TkvCustomThread thread(nullptr);
  int served = 0;
  thread.SetOnExecute([&](TObject*) {
    for (int i = 0; i < trips; ++i) thread.Synchronize([&] { ++served; });
  });
  thread.SetOnFinish([](TObject*) { Application().Terminate(); });
  Application().ClearTerminated();
  auto cpu0 = CpuSeconds();
  auto t0 = Clock::now();
  thread.Execute();
  Application().Run();  // the UI thread runs the plain loop meanwhile
  double secs = std::chrono::duration<double>(Clock::now() - t0).count();
  Application().ClearTerminated();
  if (served != trips) std::fprintf(stderr, "served %d of %d\n", served, trips);
  return {secs / trips * 1e6, (CpuSeconds() - cpu0) / trips * 1e6};
}

}  // namespace

int main(int argc, char** argv) {
  int trips = argc > 1 ? std::atoi(argv[1]) : 200000;
  SynchronizeRoundTrips(1000);  // warm-up
  Figures floor = CondVarPingPong(trips);
  Figures sync = SynchronizeRoundTrips(trips);
  std::printf("bench synchronize: %d round trips worker -> UI thread -> worker\n", trips);
  std::printf("  plain loop: Synchronize round trip  %8.2f us  (CPU %6.2f us per trip, both threads)\n", sync.usPerTrip,
              sync.cpuUsPerTrip);
#ifdef KELVORA_BENCH_QT
  {
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    TQtLoopBackend qtLoop;
    SetLoopBackend(&qtLoop);
    SynchronizeRoundTrips(1000);  // warm-up
    Figures qt = SynchronizeRoundTrips(trips);
    SetLoopBackend(nullptr);
    std::printf("  Qt loop:    Synchronize round trip  %8.2f us  (CPU %6.2f us per trip, both threads)  %.2fx the plain loop\n",
                qt.usPerTrip, qt.cpuUsPerTrip, qt.usPerTrip / sync.usPerTrip);
  }
#else
  std::printf("  Qt loop:    not built (no Qt)\n");
#endif
  std::printf("  mutex+condvar ping-pong             %8.2f us  (CPU %6.2f us per trip, both threads)\n", floor.usPerTrip,
              floor.cpuUsPerTrip);
  std::printf("  ratio floor/plain Synchronize       %8.2f\n", floor.usPerTrip / sync.usPerTrip);
  return 0;
}
