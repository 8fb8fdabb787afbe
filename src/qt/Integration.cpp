#include "kelvora/qt/Integration.h"

#include <QApplication>

#include "kelvora/Application.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"

namespace kelvora::qt {

Integration::Integration(QApplication& App, QWidget* MainWindow)
    : loop_(std::make_unique<TQtLoopBackend>()), ui_(std::make_unique<TkvQtUpgradeUI>()), mainWindow_(MainWindow) {
  SetLoopBackend(loop_.get());
  SetUpgradeUI(ui_.get());
  const QString title = App.applicationDisplayName();
  if (!title.isEmpty()) Application().SetTitle(title.toStdString());
  if (MainWindow != nullptr) {
    closeInstalled_ = true;
    // The back-end ends exec as well, whatever the window does on close.
    Application().SetMainWindowClose([window = mainWindow_] {
      if (window) window->close();
    });
  }
}

Integration::~Integration() {
  if (closeInstalled_) Application().SetMainWindowClose(nullptr);
  SetUpgradeUI(nullptr);
  SetLoopBackend(nullptr);
}

}  // namespace kelvora::qt
