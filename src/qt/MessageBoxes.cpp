#include "qt/MessageBoxes.h"

#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>
#include <vector>

#include "kelvora/kvUpgradeUI.h"
#include "qt/DialogParts.h"
#include "qt/TextLines.h"

namespace kelvora::qtdetail {

namespace {
// The button sets of the standard boxes beyond the two the engine uses.
enum : unsigned { kOKCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kRetryCancel = 5 };
enum : int { kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5 };

// The buttons of a set in the order the standard boxes show them.
std::vector<QMessageBox::StandardButton> InOrder(unsigned Flags) {
  switch (Flags & mbButtonMask) {
    case kOKCancel: return {QMessageBox::Ok, QMessageBox::Cancel};
    case kAbortRetryIgnore: return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
    case kYesNoCancel: return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
    case mbYesNo: return {QMessageBox::Yes, QMessageBox::No};
    case kRetryCancel: return {QMessageBox::Retry, QMessageBox::Cancel};
    default: return {QMessageBox::Ok};
  }
}

// A text taller than the screen holds goes into a box that scrolls, so the
// box's buttons stay on the screen. The box's own label is moved into it.
void BoundText(QMessageBox& Box) {
  auto* label = Box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  auto* grid = qobject_cast<QGridLayout*>(Box.layout());
  QScreen* screen = DialogScreen();
  if (label == nullptr || grid == nullptr || screen == nullptr) return;
  // The width the box wraps its text at (at most half the screen, 500).
  const int width = std::min(500, screen->availableGeometry().width() / 2);
  const int room = TextRoom(8 * label->fontMetrics().height(), 3 * label->fontMetrics().height());
  label->setWordWrap(true);
  if (label->heightForWidth(width) <= room) return;
  auto* area = new QScrollArea(&Box);
  area->setObjectName(QStringLiteral("TextArea"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  delete grid->replaceWidget(label, area);
  area->setWidget(label);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  area->setFixedSize(width + area->verticalScrollBar()->sizeHint().width(), room);
}

}  // namespace

QMessageBox::StandardButtons ButtonsOf(unsigned Flags) {
  QMessageBox::StandardButtons buttons;
  for (QMessageBox::StandardButton b : InOrder(Flags)) buttons |= b;
  return buttons;
}

QMessageBox::Icon IconOf(unsigned Flags) {
  switch (Flags & mbIconMask) {
    case mbIconError: return QMessageBox::Critical;
    case mbIconQuestion: return QMessageBox::Question;
    case mbIconExclamation: return QMessageBox::Warning;
    case mbIconInformation: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

int AnswerOf(QMessageBox::StandardButton Button) {
  switch (Button) {
    case QMessageBox::Yes: return idYes;
    case QMessageBox::No: return idNo;
    case QMessageBox::Cancel: return idCancel;
    case QMessageBox::Abort: return kIdAbort;
    case QMessageBox::Retry: return kIdRetry;
    case QMessageBox::Ignore: return kIdIgnore;
    default: return idOK;
  }
}

int ShowMessageBox(QWidget* Parent, const std::string& Text, const std::string& Caption, unsigned Flags) {
  QMessageBox box(IconOf(Flags), QString::fromStdString(Caption), DisplayText(Text), ButtonsOf(Flags), Parent);
  // Texts are shown as written: "<AppTitle>" is not markup.
  box.setTextFormat(Qt::PlainText);
  if ((Flags & mbSystemModal) != 0) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  }
  // The first button is the default, as in the standard boxes, unless the
  // flags name the second.
  const std::vector<QMessageBox::StandardButton> order = InOrder(Flags);
  const size_t def = (Flags & mbDefButtonMask) == mbDefButton2 ? 1 : 0;
  box.setDefaultButton(order[std::min(def, order.size() - 1)]);
  BoundText(box);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr) {
    // Closed without a button: the escape answer of the box.
    if ((Flags & mbButtonMask) == mbYesNo) return idNo;
    return (Flags & mbButtonMask) == mbOK ? idOK : idCancel;
  }
  return AnswerOf(box.standardButton(clicked));
}

}  // namespace kelvora::qtdetail
