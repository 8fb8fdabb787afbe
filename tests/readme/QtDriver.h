// Put into the README's Qt program by the test: the user, clicking Yes on the
// question, OK on message boxes and Finish on the wizard's completion page,
// and a log of the status bar on stdout. In the run the updater restarted,
// the first finished check ends the program.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

#include <kelvora/Updater.h>

namespace kvtest {

class QtDriver {
 public:
  QtDriver(QMainWindow& Window, kelvora::Updater& Updater) : window_(Window), updater_(Updater) {
    std::printf("qt: title %s\n", QApplication::applicationDisplayName().toUtf8().constData());
    std::fflush(stdout);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Step(); });
    timer_.start(20);
  }

 private:
  void Step() {
    const QString status = window_.statusBar()->currentMessage();
    if (status != shown_) {
      shown_ = status;
      std::printf("qt: %s\n", status.toUtf8().constData());
      std::fflush(stdout);
      if (updater_.restarted() && status == "up to date") window_.close();
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (!w->isVisible()) continue;
      if (auto* yes = w->findChild<QPushButton*>("YesBtn"); yes != nullptr && yes->isVisible()) {
        yes->click();
        return;
      }
      if (auto* finish = w->findChild<QPushButton*>("FinishBtn"); finish != nullptr && finish->isEnabled()) {
        finish->click();
        return;
      }
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->defaultButton() != nullptr) {
        box->defaultButton()->click();
        return;
      }
    }
  }

  QMainWindow& window_;
  kelvora::Updater& updater_;
  QTimer timer_;
  QString shown_;
};

}  // namespace kvtest

// Put before "return app.exec()" by the test.
#define KVTEST_QT_DRIVER(Window, Updater) kvtest::QtDriver kvtestDriver(Window, Updater);
