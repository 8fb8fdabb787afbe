// The one-line Qt integration, and the end of QApplication::exec for the
// restart with and without a main-window close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "kelvora/Application.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/Updater.h"
#include "kelvora/kvUtils.h"
#include "kelvora/qt/Integration.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"
#include "support/Nginx.h"

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

// Runs QApplication::exec until Updater's next check has ended; false when
// the guard had to end it.
bool ExecUntilChecked(Updater& U) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(20000);
  QTimer::singleShot(0, [&] { U.checkNow(); });
  return QApplication::exec() == 0;
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

TEST(QtIntegration, AProgramWithoutItIsToldOnceAndItsChecksEndInsteadOfHanging) {
  kvtest::Nginx server;
  server.AddTextFile("info.txt", "#version=1.0\n");
  std::vector<std::string> notes;
  SetDeveloperLog([&](const std::string& Line) { notes.push_back(Line); });
  std::vector<Result> results;
  {
    Updater updater({.infoAddress = server.Url("/info.txt"), .version = "1.0"});
    updater.onFinished([&](const Result& R) {
      results.push_back(R);
      QCoreApplication::exit(0);
    });
    ::testing::internal::CaptureStderr();
    const bool first = ExecUntilChecked(updater), second = ExecUntilChecked(updater);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(first && second) << "the checks hung";
    ASSERT_EQ(results.size(), 2u);
    for (const Result& r : results) {
      EXPECT_EQ(r.outcome, Outcome::Failed);
      EXPECT_NE(r.reason.find("kelvora::qt::Integration"), std::string::npos) << r.reason;
    }
    ASSERT_EQ(notes.size(), 1u) << "told once";
    EXPECT_EQ(notes[0], results[0].reason);
    const size_t at = err.find("kelvora: " + notes[0] + "\n");
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find("kelvora: " + notes[0], at + 1), std::string::npos) << "said once on stderr: " << err;
  }
  // With the integration the same check runs.
  QWidget window;
  qt::Integration integration(*qApp, &window);
  Updater updater({.infoAddress = server.Url("/info.txt"), .version = "1.0", .messages = Messages::None,
                   .userCheckMessages = Messages::None});
  updater.onFinished([&](const Result& R) {
    results.push_back(R);
    QCoreApplication::exit(0);
  });
  EXPECT_TRUE(ExecUntilChecked(updater));
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[2].outcome, Outcome::UpToDate);
  EXPECT_EQ(notes.size(), 1u);
  SetDeveloperLog(nullptr);
}
