// Kelvora::Qt from the installed package: the Qt loop serves a posted call.
#include <kelvora/LoopBackend.h>
#include <kelvora/qt/kvQtLoop.h>

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  kelvora::TQtLoopBackend loop;
  kelvora::SetLoopBackend(&loop);
  int served = 0;
  kelvora::LoopBackend().Post([&] { ++served; QApplication::quit(); });
  app.exec();
  kelvora::SetLoopBackend(nullptr);
  std::printf("served %d\n", served);
  return served == 1 ? 0 : 1;
}
