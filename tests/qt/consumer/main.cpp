// Builds against the installed package's Kelvora::Qt and runs a worker's
// hand-off through the Qt loop back-end.
#include <QApplication>

#include <kelvora/kvThread.h>
#include <kelvora/qt/kvQtLoop.h>
#include <kelvora/qt/kvQtUpgradeUI.h>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  kelvora::TQtLoopBackend loop;
  kelvora::SetLoopBackend(&loop);
  kelvora::TkvQtUpgradeUI ui;
  int handed = 0;
  {
    kelvora::TkvCustomThread thread(nullptr);
    thread.SetWaitThread(true);
    thread.SetOnExecute([&](kelvora::TObject*) { thread.Synchronize([&] { ++handed; }); });
    thread.Execute();
  }
  kelvora::SetLoopBackend(nullptr);
  std::printf("handed %d, wizard %d\n", handed, ui.HasWizard() ? 1 : 0);
  return handed == 1 && !ui.HasWizard() ? 0 : 1;
}
