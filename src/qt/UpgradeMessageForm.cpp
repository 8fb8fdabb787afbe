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

  // Yes is the default button (Enter); Later, Esc and the close box say no.
  connect(YesBtn, &QPushButton::clicked, this, &QDialog::accept);
  connect(LaterBtn, &QPushButton::clicked, this, &QDialog::reject);
}

void TkvKelvoraUpgradeMessageForm::Fill(const std::string& Text) {
  Label1->resize(kOuterWidth - Label1->x() - 11, Label1->height());
  Label1->setText(DisplayText(Text));
  Label1->resize(Label1->width(), WrappedHeight(Label1));
  setWindowTitle(DisplayText(GetLangText(ltWizardCaption)));
  YesBtn->setText(DisplayText(GetLangText(ltYes)));
  LaterBtn->setText(DisplayText(GetLangText(ltLater)));
  // The dialog grows with the text; the buttons stay at the bottom.
  setFixedSize(kClientWidth, Label1->y() + Label1->height() + kPanelHeight);
  BottomPanel->move(0, height() - kPanelHeight);
  CentreOnScreen(this);
}

bool TkvKelvoraUpgradeMessageForm::Ask(const std::string& Text) {
  Fill(Text);
  YesBtn->setFocus();
  return exec() == QDialog::Accepted;
}

}  // namespace kelvora::qtdetail
