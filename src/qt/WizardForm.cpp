#include "qt/WizardForm.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "kelvora/kvLanguage.h"
#include "qt/Fonts.h"
#include "qt/MessageBoxes.h"
#include "qt/Pictures.h"
#include "qt/TextLines.h"

namespace kelvora::qtdetail {

namespace {

// A bevel of which only the top line is drawn: the separator above the
// buttons.
class TTopLineBevel : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawLine(0, 0, width() - 1, 0);
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(0, 1, width() - 1, 1);
  }
};

// A group box whose etched frame line runs through the middle of its
// caption, so the children's positions (measured from the box's top) leave
// room for the caption as the layout intends.
class TEtchedGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    const int lineY = fm.height() / 2;
    const QRect frame(0, lineY, width() - 2, height() - lineY - 2);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(frame);
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(frame.translated(1, 1));
    if (title().isEmpty()) return;
    const QRect caption(8, 0, fm.horizontalAdvance(title()), fm.height());
    p.fillRect(caption, palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, title());
  }
};

template <class W, class P>
W* Make(P* Parent, const char* Name) {
  W* w = new W(Parent);
  w->setObjectName(QString::fromLatin1(Name));
  return w;
}

QLabel* MakeLabel(QWidget* Parent, const char* Name, int Left, int Top) {
  QLabel* l = Make<QLabel>(Parent, Name);
  l->setTextFormat(Qt::PlainText);
  l->move(Left, Top);
  return l;
}

QProgressBar* MakeProgress(QWidget* Parent, const char* Name, const QRect& Geometry) {
  QProgressBar* p = Make<QProgressBar>(Parent, Name);
  p->setGeometry(Geometry);
  p->setRange(0, 100);
  p->setValue(0);
  p->setTextVisible(false);
  return p;
}

void SetTextColor(QWidget* W, QPalette::ColorRole Role) {
  QPalette pal = W->palette();
  pal.setColor(QPalette::WindowText, pal.color(Role));
  W->setPalette(pal);
}

QString Blanked(int Slot) { return DisplayText(" " + GetLangText(Slot) + " "); }

}  // namespace

TkvKelvoraWizardForm::THandlerScope::~THandlerScope() {
  if (--f_.depth_ == 0 && f_.disposeOnExit_) f_.DisposeSoon();
}

void TkvKelvoraWizardForm::DisposeSoon() {
  // From a queued call, once the event being handled has been delivered.
  // (deleteLater would wait for an event loop level that a host pumping
  // with processEvents alone may never leave.)
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (depth_ == 0) delete this;
      },
      Qt::QueuedConnection);
}

TkvKelvoraWizardForm::TkvKelvoraWizardForm()
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName("KelvoraWizardForm");
  setFont(SansFont(11));
  setFixedSize(463, 281);
  CreateControls();
}

void TkvKelvoraWizardForm::CreateControls() {
  Panel1 = Make<QFrame>(this, "Panel1");
  Panel1->setGeometry(10, 10, 120, 220);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(1);
  Image1 = Make<QLabel>(Panel1, "Image1");
  Image1->setGeometry(1, 1, 118, 218);
  Image1->setScaledContents(true);
  Image1->setPixmap(BuiltInWizardPicture());

  Bevel1 = Make<TTopLineBevel>(this, "Bevel1");
  Bevel1->setGeometry(10, 238, 447, 13);

  WizardTitle = MakeLabel(this, "WizardTitle", 136, 10);
  WizardTitle->setFont(SerifFont(19, true, true));

  LCurrentFile = Make<TEtchedGroupBox>(this, "LCurrentFile");
  LAllFiles = Make<TEtchedGroupBox>(this, "LAllFiles");
  LAllFiles->setGeometry(136, 162, 319, 67);

  LDownloadingFileFrom = MakeLabel(LCurrentFile, "LDownloadingFileFrom", 6, 14);
  LEstimatedTime = MakeLabel(LCurrentFile, "LEstimatedTime", 6, 76);
  LTransferRate = MakeLabel(LCurrentFile, "LTransferRate", 6, 60);
  ProgressCurrentFile = MakeProgress(LCurrentFile, "ProgressCurrentFile", QRect(6, 96, 307, 22));
  ProgressAllFiles = MakeProgress(LAllFiles, "ProgressAllFiles", QRect(6, 38, 307, 22));

  FinishBtn = Make<QPushButton>(this, "FinishBtn");
  FinishBtn->setGeometry(296, 248, 75, 25);
  FinishBtn->setEnabled(false);
  FinishBtn->setAutoDefault(false);
  CancelBtn = Make<QPushButton>(this, "CancelBtn");
  CancelBtn->setGeometry(380, 248, 75, 25);
  CancelBtn->setAutoDefault(false);
  CancelBtn->setDefault(true);

  AllDownloading = MakeLabel(LAllFiles, "AllDownloading", 6, 16);

  // The product name engraved into the window face across the separator:
  // a light copy one pixel lower right, under a shadow-coloured one.
  AboutShadow = MakeLabel(this, "AboutShadow", 31, 234);
  AboutShadow->setFont(SansFont(12));
  SetTextColor(AboutShadow, QPalette::Light);
  AboutShadow->setAutoFillBackground(true);
  AboutLabel = MakeLabel(this, "AboutLabel", 30, 233);
  AboutLabel->setFont(SansFont(12));
  SetTextColor(AboutLabel, QPalette::Dark);
  AboutLabel->setAttribute(Qt::WA_TranslucentBackground);

  FileURL = Make<QLineEdit>(LCurrentFile, "FileURL");
  FileURL->setGeometry(10, 28, 301, 13);
  FileURL->setFrame(false);
  FileURL->setTextMargins(0, 0, 0, 0);
  FileURL->setContentsMargins(0, 0, 0, 0);
  FileURL->setFont(SansFont(12));
  {
    QPalette pal = FileURL->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    pal.setColor(QPalette::Text, pal.color(QPalette::Highlight));
    FileURL->setPalette(pal);
  }
  FileURL->setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  FileURL->setReadOnly(true);               // can be selected and copied, not changed

  AfterNote = MakeLabel(this, "AfterNote", 136, 44);
  AfterNote->resize(319, 13);
  AfterNote->setWordWrap(true);
  AfterNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  LFileSize = MakeLabel(LCurrentFile, "LFileSize", 6, 44);

  PlaceCurrentFileBox(false);
  QWidget::setTabOrder(FinishBtn, CancelBtn);

  connect(FinishBtn, &QPushButton::clicked, this, [this] { FinishBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
}

void TkvKelvoraWizardForm::PlaceCurrentFileBox(bool HideFileLocation) {
  // Without the URL line everything below it moves up, and the box moves
  // down and shrinks.
  LDownloadingFileFrom->setVisible(!HideFileLocation);
  FileURL->setVisible(!HideFileLocation);
  const int top = HideFileLocation ? LDownloadingFileFrom->y() : 44;
  LFileSize->move(6, top);
  LTransferRate->move(6, top + 16);
  LEstimatedTime->move(6, top + 32);
  ProgressCurrentFile->move(6, top + 52);
  LCurrentFile->setGeometry(136, HideFileLocation ? 44 : 34, 319, HideFileLocation ? 95 : 125);
}

void TkvKelvoraWizardForm::SizeLabel(QLabel* Label, const std::string& Text) {
  Label->setText(DisplayText(Text));
  Label->adjustSize();
}

void TkvKelvoraWizardForm::Open(const TkvWizardOptions& Options, TkvWizardHooks Hooks, std::function<void()> Gone) {
  options_ = Options;
  if (options_.AppTitle.empty()) options_.AppTitle = ProgramTitle();
  hooks_ = std::move(Hooks);
  gone_ = std::move(Gone);

  const QString about = QString::fromStdString(" " + GetResourceText(kProductNameTextId) + " ");
  AboutLabel->setText(about);
  AboutLabel->adjustSize();
  AboutShadow->setText(about);
  AboutShadow->adjustSize();

  setWindowFlag(Qt::WindowStaysOnTopHint, Options.StayOnTop);
  PlaceCurrentFileBox(Options.HideFileLocation);

  QPixmap picture;
  if (!Options.PicturePath.empty()) picture.load(QString::fromStdString(Options.PicturePath));
  Image1->setPixmap(picture.isNull() ? BuiltInWizardPicture() : picture);

  SizeLabel(LEstimatedTime, GetLangText(ltPreparing));
  setWindowTitle(DisplayText(GetLangText(ltWizardCaption)));
  SizeLabel(WizardTitle, GetLangText(ltDownloadingTitle));
  LCurrentFile->setTitle(Blanked(ltCurrentFile));
  LAllFiles->setTitle(Blanked(ltAllFiles));
  SizeLabel(LDownloadingFileFrom, GetLangText(ltDownloadingFrom));
  FinishBtn->setText(DisplayText(GetLangText(ltNext)));
  CancelBtn->setText(DisplayText(GetLangText(ltCancel)));

  if (!isVisible()) {
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
  show();
}

void TkvKelvoraWizardForm::SetFile(const std::string& URL, const std::string& Count) {
  FileURL->setText(QString::fromStdString(URL));
  FileURL->setCursorPosition(0);
  SizeLabel(AllDownloading, Count);
}

void TkvKelvoraWizardForm::SetFileSize(const std::string& Text) { SizeLabel(LFileSize, Text); }

void TkvKelvoraWizardForm::SetProgress(int PercentsDone, int TotalPercentsDone, const std::string& TransferRate,
                                       const std::string& TimeLeft) {
  ProgressCurrentFile->setValue(std::clamp(PercentsDone, 0, 100));
  ProgressAllFiles->setValue(std::clamp(TotalPercentsDone, 0, 100));
  SizeLabel(LTransferRate, TransferRate);
  SizeLabel(LEstimatedTime, TimeLeft);
}

void TkvKelvoraWizardForm::ShowCompleted() {
  SizeLabel(WizardTitle, GetLangText(ltCompletedTitle));
  AfterNote->setText(DisplayText(FormatLangText(ltCompletedNote, {options_.AppTitle})));
  AfterNote->resize(319, std::max(13, AfterNote->heightForWidth(319)));
  LCurrentFile->hide();
  LAllFiles->hide();
  CancelBtn->setDefault(false);
  CancelBtn->setEnabled(false);
  FinishBtn->setText(DisplayText(GetLangText(ltOK)));
  FinishBtn->setEnabled(true);
  FinishBtn->setDefault(true);
  FinishBtn->setFocus();
}

void TkvKelvoraWizardForm::Dispose() {
  closed_ = true;
  hooks_ = {};
  gone_ = nullptr;
  closing_ = true;
  hide();
  if (depth_ > 0)
    disposeOnExit_ = true;
  else
    delete this;
}

TkvWizardHooks TkvKelvoraWizardForm::FormClose() {
  closed_ = true;
  closing_ = true;
  hide();
  disposeOnExit_ = true;  // freed when the handler that closed it returns
  TkvWizardHooks hooks = std::move(hooks_);
  hooks_ = {};
  if (auto gone = std::move(gone_)) gone();
  if (hooks.Closed) hooks.Closed();
  return hooks;
}

void TkvKelvoraWizardForm::FinishBtnClick() {
  THandlerScope scope(*this);
  if (!closed_) FormClose();
}

void TkvKelvoraWizardForm::CancelBtnClick() {
  // Through the window's own close request, as the close box and Alt+F4.
  QMetaObject::invokeMethod(this, [this] { RequestClose(); }, Qt::QueuedConnection);
}

void TkvKelvoraWizardForm::RequestClose() {
  if (closed_ || asking_) return;
  THandlerScope scope(*this);
  asking_ = true;
  // No is the default: an Enter pressed by habit keeps the download going.
  const int answer = ShowMessageBox(this, GetLangText(ltAbortQuestion), options_.AppTitle,
                                    mbYesNo | mbIconQuestion | mbDefButton2);
  asking_ = false;
  // The engine may have destroyed the window while the question was open.
  if (closed_ || answer != idYes) return;
  TkvWizardHooks hooks = FormClose();
  if (hooks.Abort) hooks.Abort();
}

void TkvKelvoraWizardForm::closeEvent(QCloseEvent* E) {
  if (closing_) {
    E->accept();
    return;
  }
  // The close box and Alt+F4 ask first; the window stays unless the answer
  // is Yes.
  E->ignore();
  QMetaObject::invokeMethod(this, [this] { RequestClose(); }, Qt::QueuedConnection);
}

void TkvKelvoraWizardForm::reject() {
  // Esc: the Cancel button, when it can be pressed.
  if (CancelBtn->isEnabled() && !closed_) CancelBtnClick();
}

}  // namespace kelvora::qtdetail
