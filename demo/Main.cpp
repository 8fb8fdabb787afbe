#include "Main.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "StoredLayout.h"
#include "kelvora/Application.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/kvUtils.h"

using namespace kelvora;

namespace demo {

namespace {

QFont DemoFont(int PixelHeight) {
  QFont f;
  f.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "Nimbus Sans", "DejaVu Sans"});
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(PixelHeight);
  return f;
}

QLabel* MakeLabel(QWidget* Parent, const char* Name, const QRect& Geometry, const QString& Text) {
  auto* l = new QLabel(Text, Parent);
  l->setObjectName(QString::fromLatin1(Name));
  l->setTextFormat(Qt::PlainText);
  l->setGeometry(Geometry);
  // Sized to the text: the stored widths were measured in the original face.
  l->adjustSize();
  return l;
}

// A web address in navy, underlined, that opens in the browser when clicked.
QLabel* MakeURLLabel(QWidget* Parent, const char* Name, const QRect& Geometry, const std::string& URL,
                     const QString& Hint) {
  QLabel* l = MakeLabel(Parent, Name, Geometry, QString::fromStdString(URL));
  QFont f = DemoFont(12);
  f.setUnderline(true);
  l->setFont(f);
  l->adjustSize();
  QPalette pal = l->palette();
  pal.setColor(QPalette::WindowText, QColor(0, 0, 128));
  l->setPalette(pal);
  l->setCursor(Qt::PointingHandCursor);
  l->setToolTip(Hint);
  return l;
}

// Clicks on a label, which has no clicked signal of its own.
class TClickFilter : public QObject {
 public:
  TClickFilter(QObject* Parent, std::function<void(QLabel*)> OnClick) : QObject(Parent), onClick_(std::move(OnClick)) {}

 protected:
  bool eventFilter(QObject* Watched, QEvent* E) override {
    if (E->type() == QEvent::MouseButtonRelease) {
      if (auto* l = qobject_cast<QLabel*>(Watched)) onClick_(l);
      return true;
    }
    return false;
  }

 private:
  std::function<void(QLabel*)> onClick_;
};

}  // namespace

TForm1::TForm1(const TDemoOptions& Options)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      options_(Options) {
  setObjectName("Form1");
  setWindowTitle("Kelvora Pro demo");
  setFont(DemoFont(11));
  setFixedSize(333, 196);

  // The component, from the window's stored layout.
  form_ = std::make_unique<TComponent>(nullptr);
  form_->SetName("Form1");
  KelvoraPro1 = new TkvKelvora(form_.get());
  KelvoraPro1->SetName("KelvoraPro1");
  KelvoraPro1->OnProgress = [this](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t,
                                   uint8_t PercentsDone, uint8_t, float) { KelvoraPro1Progress(PercentsDone); };
  KelvoraPro1->OnAborted = [this](TObject*) { KelvoraPro1Aborted(); };
  KelvoraPro1->OnNoUpdateAvailable = [this](TObject*) { KelvoraPro1NoUpdateAvailable(); };
  KelvoraPro1->OnAfterRestart = [this](TObject*) { restarted_ = true; };
  ReadComponentText(*form_, kMainLayout);
  if (!Options.InfoURL.empty()) KelvoraPro1->SetInfoFileURL(Options.InfoURL);
  if (!Options.PublicKey.empty()) KelvoraPro1->SetPublicKey(Options.PublicKey);
  // The restart after an upgrade gets the same command line (the info
  // file's address, the key), not only the restart marker.
  KelvoraPro1->SetRestartArguments(ArgumentsToKeep(Options.Arguments, KelvoraPro1->RestartParams()));

  Button1 = new QPushButton("Check program updates...", this);
  Button1->setObjectName("Button1");
  Button1->setGeometry(14, 6, 167, 25);
  Label4 = MakeLabel(this, "Label4", QRect(2, 36, 284, 13),
                     "Make your software auto-upgradable with just 1 line of code:");
  Label5 = MakeLabel(this, "Label5", QRect(2, 50, 168, 13), "\"kvKelvora1.CheckUpdates\"");
  Label1 = MakeLabel(this, "Label1", QRect(2, 80, 259, 13), "\"Updated version\" of this demo program will taken from");
  URLLabel1 = MakeURLLabel(this, "URLLabel1", QRect(2, 94, 322, 13), Options.ExeURL,
                           "\"Updated\" version of *this* program");
  Label6 = MakeLabel(this, "Label6", QRect(2, 120, 142, 13), "Upgrade information stored at:");
  URLLabel2 = MakeURLLabel(this, "URLLabel2", QRect(2, 134, 310, 13), KelvoraPro1->InfoFileURL(),
                           "Upgrade information (Info-file)");
  Label3 = MakeLabel(this, "Label3", QRect(2, 168, 44, 13), "Progress:");
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setGeometry(0, 183, 333, 13);  // along the bottom edge
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  QWidget::setTabOrder(Button1, ProgressBar1);

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  auto* clicks = new TClickFilter(this, [this](QLabel* l) { URLLabelClick(l); });
  URLLabel1->installEventFilter(clicks);
  URLLabel2->installEventFilter(clicks);

  // Closing the window ends the application's loop; the component closes
  // the application this way at the end of an upgrade.
  Application().SetMainWindowClose([this] { close(); });
}

TForm1::~TForm1() {
  Application().SetMainWindowClose(nullptr);
  form_.reset();
}

void TForm1::closeEvent(QCloseEvent* E) {
  E->accept();
  Application().Terminate();
}

void TForm1::Button1Click() { KelvoraPro1->CheckUpdates(false); }

void TForm1::KelvoraPro1Aborted() {
  setWindowTitle("Upgrade aborted");
  ProgressBar1->setValue(0);
}

void TForm1::URLLabelClick(QLabel* Label) { OpenURL(Label->text().toStdString(), true); }

void TForm1::KelvoraPro1NoUpdateAvailable() { setWindowTitle("No Update"); }

void TForm1::KelvoraPro1Progress(uint8_t PercentsDone) { ProgressBar1->setValue(PercentsDone); }

}  // namespace demo
