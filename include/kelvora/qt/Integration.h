// Kelvora in a Qt Widgets application, in one line after the QApplication
// and the main window:
//
//   kelvora::qt::Integration integration(app, &mainWindow);
//
// While it lives, the component runs on Qt's event loop and talks to the
// user through the Qt windows; the dialogs name the program by
// QApplication::applicationDisplayName; at the end of an upgrade the main
// window is closed and QApplication::exec returns, so that the updater can
// replace the program. Create it before the kelvora::Updater (or TkvKelvora)
// and let it go after.
#pragma once

#include "kelvora/kelvora_qt_export.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QApplication;

namespace kelvora {
class TQtLoopBackend;
class TkvQtUpgradeUI;
}  // namespace kelvora

namespace kelvora::qt {

class KELVORA_QT_EXPORT Integration {
 public:
  explicit Integration(QApplication& App, QWidget* MainWindow = nullptr);
  ~Integration();
  Integration(const Integration&) = delete;
  Integration& operator=(const Integration&) = delete;

  TkvQtUpgradeUI& ui() { return *ui_; }

 private:
  std::unique_ptr<TQtLoopBackend> loop_;
  std::unique_ptr<TkvQtUpgradeUI> ui_;
  QPointer<QWidget> mainWindow_;
  bool closeInstalled_ = false;
};

}  // namespace kelvora::qt
