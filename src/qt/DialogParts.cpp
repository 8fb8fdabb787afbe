#include "qt/DialogParts.h"

#include <algorithm>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

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

QScrollArea* NewTextArea(QWidget* Dialog) {
  auto* area = new QScrollArea(Dialog);
  area->setObjectName("TextArea");
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  area->setBackgroundRole(QPalette::Base);
  area->hide();
  return area;
}

int PlaceBoundedLabel(QLabel* Label, QScrollArea* Area, const QString& Text, QPoint At, int Width, int Room) {
  if (Area->widget() == Label) {
    Area->takeWidget();
    Label->setParent(Area->parentWidget());
    Label->show();
  }
  Label->setTextInteractionFlags(Qt::LinksAccessibleByMouse);  // a label's own
  Label->setContentsMargins(0, 0, 0, 0);
  Label->setGeometry(At.x(), At.y(), Width, Label->height());
  Label->setText(Text);
  const int height = WrappedHeight(Label);
  if (height <= Room) {
    Label->resize(Width, height);
    Area->hide();
    return height;
  }
  Area->setGeometry(At.x(), At.y(), Width, Room);
  Area->setWidget(Label);  // sized by the box, less its scroll bar
  Label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Label->setContentsMargins(3, 2, 3, 2);  // off the box's frame
  Area->verticalScrollBar()->setValue(0);
  Area->show();
  return Room;
}

}  // namespace kelvora::qtdetail
