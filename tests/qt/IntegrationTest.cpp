// The one-line Qt integration, and the end of QApplication::exec for the
// restart with and without a main-window close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "kelvora/Application.h"
#include "kelvora/kvUtils.h"
#include "kelvora/qt/Integration.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"

using namespace kelvora;

namespace {

// QApplication::exec with the restart's close posted first; 1 when it had
// to be ended by the guard.
int ExecClosingForTheRestart() {
  QTimer::singleShot(0, [] { CloseApplication(); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(10000);
  const int rc = QApplication::exec();
  Application().ClearTerminated();
  return rc;
}

}  // namespace

TEST(QtIntegration, InstallsTheSeamsNamesTheProgramAndEndsExecForTheRestart) {
  QApplication::setApplicationDisplayName("Integration Test");
  {
    QWidget window;
    window.show();
    qt::Integration integration(*qApp, &window);
    EXPECT_EQ(&UpgradeUI(), static_cast<TkvUpgradeUI*>(&integration.ui()));
    EXPECT_NE(dynamic_cast<TQtLoopBackend*>(&LoopBackend()), nullptr);
    EXPECT_EQ(Application().Title(), "Integration Test");
    EXPECT_EQ(ExecClosingForTheRestart(), 0);
    EXPECT_FALSE(window.isVisible()) << "the main window is closed for the restart";
  }
  EXPECT_FALSE(Application().HasMainWindow());
  EXPECT_EQ(dynamic_cast<TQtLoopBackend*>(&LoopBackend()), nullptr);

  // The component's own API without a main-window close: the restart still
  // ends the event loop.
  TQtLoopBackend loop;
  SetLoopBackend(&loop);
  EXPECT_EQ(ExecClosingForTheRestart(), 0);
  SetLoopBackend(nullptr);
  Application().SetTitle("");
  QApplication::setApplicationDisplayName(QString());
}

#include "kelvora/Updater.h"
#include "support/Nginx.h"
#include "kelvora/kvKelvora.h"
TEST(QtIntegration, ReproWithoutIntegration) {
  kvtest::Nginx server;
  kvtest::TempDir dir;
  server.AddPatternFile("prog.bin", 3000);
  server.AddTextFile("info.txt", "#version=2.0\n#url1=" + server.Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n");
  Updater updater({.infoAddress = server.Url("/info.txt"), .version = "1.0"});
  std::vector<std::string> got;
  updater.onFinished([&](const Result& r) { got.push_back(OutcomeName(r.outcome) + std::string(" ") + r.reason); QCoreApplication::exit(0); });
  QTimer::singleShot(0, [&] { updater.checkNow(); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  const int rc = QApplication::exec();
  std::fprintf(stderr, "rc=%d got=%zu %s checking=%d busy=%d\n", rc, got.size(), got.empty() ? "" : got[0].c_str(), updater.checking(), updater.component().Busy());
}
