#include "qt/UpgradeMessageForm.h"

#include <QLabel>
#include <QPushButton>

#include "kelvora/kvLanguage.h"
#include "qt/DialogParts.h"
#include "qt/Fonts.h"
#include "qt/Pictures.h"
#include "qt/TextLines.h"

namespace kelvora::qtdetail {

namespace {
constexpr int kClientWidth = 318;
constexpr int kPanelHeight = 45;
// The window's outer width: the client area and a 3-pixel dialog frame on
// each side, as the layout was measured with.
constexpr int kOuterWidth = kClientWidth + 2 * 3;
}  // namespace

TkvKelvoraUpgradeMessageForm::TkvKelvoraUpgradeMessageForm() : QDialog(nullptr, TopmostDialogFlags()) {
  setObjectName("KelvoraUpgradeMessageForm");
  setFont(SansFont(11));
  setFixedSize(kClientWidth, 119);

  BottomPanel = new QWidget(this);
  BottomPanel->setObjectName("BottomPanel");
  BottomPanel->setGeometry(0, height() - kPanelHeight, kClientWidth, kPanelHeight);
  YesBtn = NamedButton(BottomPanel, "YesBtn", "Yes!", QRect(78, 13, 75, 23));
  YesBtn->setDefault(true);
  LaterBtn = NamedButton(BottomPanel, "LaterBtn", "Later", QRect(167, 13, 75, 23));

  Label1 = NamedLabel(this, "Label1", "label");
  Label1->setGeometry(45, 5, 22, 13);
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Icon = NamedLabel(this, "Icon", QString());
  Icon->setGeometry(7, 5, 32, 32);
  Icon->setPixmap(BuiltInDialogIcon());
  TextArea = NewTextArea(this);

  // Yes is the default button (Enter); Later, Esc and the close box say no.
  connect(YesBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(LaterBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TkvKelvoraUpgradeMessageForm::Fill(const std::string& Text) {
  setWindowTitle(DisplayText(GetLangText(ltWizardCaption)));
  YesBtn->setText(DisplayText(GetLangText(ltYes)));
  LaterBtn->setText(DisplayText(GetLangText(ltLater)));
  // The dialog grows with the text, up to two thirds of the screen; a
  // longer text scrolls in a box of that height. The buttons stay at the
  // bottom.
  const int room = TextRoom(5 + kPanelHeight, 3 * Label1->fontMetrics().height() + 8);
  const int textHeight =
      PlaceBoundedLabel(Label1, TextArea, DisplayText(Text), QPoint(45, 5), kOuterWidth - 45 - 11, room);
  setFixedSize(kClientWidth, 5 + textHeight + kPanelHeight);
  BottomPanel->move(0, height() - kPanelHeight);
  CentreOnScreen(this);
}

bool TkvKelvoraUpgradeMessageForm::Ask(const std::string& Text) {
  Fill(Text);
  YesBtn->setFocus();
  return exec() == QDialog::Accepted;
}

}  // namespace kelvora::qtdetail
