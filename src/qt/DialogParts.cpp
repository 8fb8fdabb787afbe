#include "qt/DialogParts.h"

#include <algorithm>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace kelvora::qtdetail {

Qt::WindowFlags TopmostDialogFlags() {
  return Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
         Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;
}

QLabel* NamedLabel(QWidget* Parent, const char* Name, const QString& Text) {
  auto* l = new QLabel(Text, Parent);
  l->setObjectName(QString::fromLatin1(Name));
  l->setTextFormat(Qt::PlainText);
  return l;
}

QPushButton* NamedButton(QWidget* Parent, const char* Name, const QString& Text, const QRect& Geometry) {
  auto* b = new QPushButton(Text, Parent);
  b->setObjectName(QString::fromLatin1(Name));
  b->setGeometry(Geometry);
  b->setAutoDefault(false);
  return b;
}

int WrappedHeight(QLabel* Label) {
  const int h = Label->heightForWidth(Label->width());
  return h > 0 ? h : Label->sizeHint().height();
}

QScreen* DialogScreen() {
  if (QWidget* active = QApplication::activeWindow())
    if (QScreen* screen = active->screen()) return screen;
  return QGuiApplication::primaryScreen();
}

void CentreOnScreen(QWidget* W) {
  QScreen* screen = DialogScreen();
  if (screen == nullptr) return;
  const QRect a = screen->availableGeometry();
  QPoint p = a.center() - W->rect().center();
  p.setX(std::max(a.left(), std::min(p.x(), a.right() + 1 - W->width())));
  p.setY(std::max(a.top(), std::min(p.y(), a.bottom() + 1 - W->height())));
  W->move(p);
}

int TextRoom(int Fixed, int MinHeight) {
  QScreen* screen = DialogScreen();
  if (screen == nullptr) return std::max(MinHeight, 400 - Fixed);
  return std::max(MinHeight, screen->availableGeometry().height() * 2 / 3 - Fixed);
}

}  // namespace kelvora::qtdetail
