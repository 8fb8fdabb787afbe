#include "qt/DialogParts.h"

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

void CentreOnScreen(QWidget* W) {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    W->move(screen->availableGeometry().center() - W->rect().center());
}

}  // namespace kelvora::qtdetail
