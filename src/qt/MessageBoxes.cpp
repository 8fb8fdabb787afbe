#include "qt/MessageBoxes.h"

#include "kelvora/kvUpgradeUI.h"
#include "qt/TextLines.h"

namespace kelvora::qtdetail {

namespace {
// The button sets of the standard boxes beyond the two the engine uses.
enum : unsigned { kOKCancel = 1, kAbortRetryIgnore = 2, kYesNoCancel = 3, kRetryCancel = 5 };
enum : int { kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5 };
}  // namespace

QMessageBox::StandardButtons ButtonsOf(unsigned Flags) {
  switch (Flags & mbButtonMask) {
    case kOKCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case kAbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case mbYesNo: return QMessageBox::Yes | QMessageBox::No;
    case kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
  }
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
  // The first button is the default, as in the standard boxes.
  switch (Flags & mbButtonMask) {
    case kAbortRetryIgnore: box.setDefaultButton(QMessageBox::Abort); break;
    case kYesNoCancel:
    case mbYesNo: box.setDefaultButton(QMessageBox::Yes); break;
    case kRetryCancel: box.setDefaultButton(QMessageBox::Retry); break;
    default: box.setDefaultButton(QMessageBox::Ok); break;
  }
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
