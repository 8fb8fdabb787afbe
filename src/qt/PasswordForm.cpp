#include "qt/PasswordForm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "kelvora/kvLanguage.h"
#include "qt/DialogParts.h"
#include "qt/Fonts.h"
#include "qt/Pictures.h"
#include "qt/TextLines.h"

namespace kelvora::qtdetail {

namespace {
constexpr int kClientWidth = 297;
constexpr int kPanelHeight = 98;

QLineEdit* NamedEdit(QWidget* Parent, const char* Name, const QRect& Geometry) {
  auto* e = new QLineEdit(Parent);
  e->setObjectName(QString::fromLatin1(Name));
  e->setGeometry(Geometry);
  return e;
}
}  // namespace

TkvKelvoraPasswordForm::TkvKelvoraPasswordForm() : QDialog(nullptr, TopmostDialogFlags()) {
  setObjectName("KelvoraPasswordForm");
  setFont(SansFont(11));
  setFixedSize(kClientWidth, 141);

  Label1 = NamedLabel(this, "Label1", "label");
  Label1->setGeometry(45, 5, 246, 13);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image1 = NamedLabel(this, "Image1", QString());
  Image1->move(7, 5);
  Image1->setPixmap(BuiltInDialogIcon());
  Image1->adjustSize();  // sized to its picture
  TextArea = NewTextArea(this);

  BottomPanel = new QWidget(this);
  BottomPanel->setObjectName("BottomPanel");
  BottomPanel->setGeometry(0, height() - kPanelHeight, kClientWidth, kPanelHeight);
  UsernameLab = NamedLabel(BottomPanel, "UsernameLab", "User");
  UsernameLab->move(45, 14);
  PasswordLab = NamedLabel(BottomPanel, "PasswordLab", "Pass");
  PasswordLab->move(45, 38);
  UsernameEdit = NamedEdit(BottomPanel, "UsernameEdit", QRect(122, 10, 157, 21));
  PasswordEdit = NamedEdit(BottomPanel, "PasswordEdit", QRect(122, 34, 157, 21));
  PasswordEdit->setEchoMode(QLineEdit::Password);
  PasswordEdit->setStyleSheet("lineedit-password-character: 42;");  // "*" for every character
  OKBtn = NamedButton(BottomPanel, "OKBtn", "OK", QRect(114, 68, 75, 23));
  OKBtn->setDefault(true);
  CancelBtn = NamedButton(BottomPanel, "CancelBtn", "Cancel", QRect(204, 68, 75, 23));
  QWidget::setTabOrder(UsernameEdit, PasswordEdit);
  QWidget::setTabOrder(PasswordEdit, OKBtn);
  QWidget::setTabOrder(OKBtn, CancelBtn);

  connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TkvKelvoraPasswordForm::Fill(const std::string& Text, const std::string& Username) {
  // A text too long for the screen scrolls in a box.
  const int room = TextRoom(5 + kPanelHeight, 3 * Label1->fontMetrics().height() + 8);
  const int textHeight =
      PlaceBoundedLabel(Label1, TextArea, DisplayText(Text), QPoint(45, 5), kClientWidth - 45 - 18, room);
  setWindowTitle(DisplayText(GetLangText(ltPasswordCaption)));
  UsernameLab->setText(DisplayText(GetLangText(ltUserName)));
  UsernameLab->adjustSize();
  UsernameEdit->setText(QString::fromStdString(Username));
  PasswordLab->setText(DisplayText(GetLangText(ltPassword)));
  PasswordLab->adjustSize();
  PasswordEdit->clear();
  OKBtn->setText(DisplayText(GetLangText(ltOK)));
  CancelBtn->setText(DisplayText(GetLangText(ltCancel)));
  setFixedSize(kClientWidth, 5 + textHeight + kPanelHeight);
  BottomPanel->move(0, height() - kPanelHeight);
  CentreOnScreen(this);
}

bool TkvKelvoraPasswordForm::Ask(const std::string& Text, std::string& Username, std::string& Password) {
  Fill(Text, Username);
  UsernameEdit->setFocus();
  if (exec() != QDialog::Accepted) return false;
  // What OK copies into the component.
  Username = UsernameEdit->text().toStdString();
  Password = PasswordEdit->text().toStdString();
  return true;
}

}  // namespace kelvora::qtdetail
