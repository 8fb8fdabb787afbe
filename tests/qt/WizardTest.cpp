#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "kelvora/Application.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"
#include "qt/QtTestSupport.h"
#include "support/TestFiles.h"

using namespace kelvora;
using kvtest::Child;
using kvtest::OnModal;
using kvtest::PumpUntil;

namespace {

QString Q(const std::string& S) { return QString::fromStdString(S); }

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLanguage = LanguageBaseId();
    SetLanguageBaseId(LanguageBlockId(wlEnglish));
    loop = std::make_unique<TQtLoopBackend>();
    SetLoopBackend(loop.get());
  }
  void TearDown() override {
    ui.reset();
    SetLoopBackend(nullptr);
    loop.reset();
    SetLanguageBaseId(savedLanguage);
  }

  QWidget* Open(TkvWizardOptions Options = {}) {
    if (Options.AppTitle.empty()) Options.AppTitle = "Test App";
    ui->ShowWizard(Options, {[this] { hooks.push_back("Closed"); }, [this] { hooks.push_back("Abort"); }});
    w = ui->WizardWindow();
    EXPECT_NE(w, nullptr);
    return w;
  }
  template <class W>
  W* C(const char* Name) {
    return Child<W>(w, Name);
  }
  QRect Geo(const char* Name) { return C<QWidget>(Name)->geometry(); }
  QString Text(const char* Name) { return C<QLabel>(Name)->text(); }
  std::string Hooks() const {
    std::string out;
    for (const auto& h : hooks) out += (out.empty() ? "" : ",") + h;
    return out;
  }
  // Answers the abort question with Button, checking that it is the question.
  void AnswerAbortQuestion(QMessageBox::StandardButton Button, bool* Asked) {
    OnModal([Button, Asked](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), Q(GetLangText(ltAbortQuestion)));
      EXPECT_EQ(box->windowTitle(), "Test App");
      EXPECT_EQ(box->icon(), QMessageBox::Question);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No)) << "Enter keeps the download going";
      *Asked = true;
      box->button(Button)->click();
    });
  }

  uint16_t savedLanguage = 0;
  std::unique_ptr<TQtLoopBackend> loop;
  std::unique_ptr<TkvQtUpgradeUI> ui = std::make_unique<TkvQtUpgradeUI>();
  std::vector<std::string> hooks;
  QWidget* w = nullptr;
};

}  // namespace

TEST_F(WizardTest, DownloadPageHasTheLayoutAndTexts) {
  Open();
  ASSERT_TRUE(w->isVisible());
  EXPECT_EQ(w->size(), QSize(463, 281));
  EXPECT_EQ(w->minimumSize(), w->maximumSize()) << "not resizable";
  EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w->windowTitle(), "Application update wizard");
  EXPECT_FALSE(w->isModal());

  EXPECT_EQ(Geo("Panel1"), QRect(10, 10, 120, 220));
  EXPECT_EQ(Geo("Image1"), QRect(1, 1, 118, 218));
  EXPECT_EQ(Geo("LCurrentFile"), QRect(136, 34, 319, 125));
  EXPECT_EQ(Geo("LAllFiles"), QRect(136, 162, 319, 67));
  EXPECT_EQ(Geo("FileURL"), QRect(10, 28, 301, 13));
  EXPECT_EQ(Geo("ProgressCurrentFile"), QRect(6, 96, 307, 22));
  EXPECT_EQ(Geo("ProgressAllFiles"), QRect(6, 38, 307, 22));
  EXPECT_EQ(Geo("Bevel1"), QRect(10, 238, 447, 13));
  EXPECT_EQ(Geo("FinishBtn"), QRect(296, 248, 75, 25));
  EXPECT_EQ(Geo("CancelBtn"), QRect(380, 248, 75, 25));
  EXPECT_EQ(Geo("AfterNote"), QRect(136, 44, 319, 13));
  EXPECT_EQ(Geo("WizardTitle").topLeft(), QPoint(136, 10));
  EXPECT_EQ(Geo("LDownloadingFileFrom").topLeft(), QPoint(6, 14));
  EXPECT_EQ(Geo("LFileSize").topLeft(), QPoint(6, 44));
  EXPECT_EQ(Geo("LTransferRate").topLeft(), QPoint(6, 60));
  EXPECT_EQ(Geo("LEstimatedTime").topLeft(), QPoint(6, 76));
  EXPECT_EQ(Geo("AllDownloading").topLeft(), QPoint(6, 16));
  EXPECT_EQ(Geo("AboutLabel").topLeft(), QPoint(30, 233));
  EXPECT_EQ(Geo("AboutShadow").topLeft(), QPoint(31, 234));

  EXPECT_EQ(Text("WizardTitle"), "Downloading files...");
  EXPECT_EQ(C<QLabel>("WizardTitle")->font().pixelSize(), 19);
  // Every face is one of the families asked for (scripts/deps.sh installs
  // them), never whatever stand-in the machine happens to have.
  for (const char* name : {"WizardTitle", "LDownloadingFileFrom", "AboutLabel"}) {
    const QFont font = C<QLabel>(name)->font();
    const QFontInfo face(font);
    EXPECT_TRUE(font.families().contains(face.family())) << name << ": " << face.family().toStdString();
    EXPECT_EQ(face.pixelSize(), font.pixelSize()) << name;
    EXPECT_EQ(face.bold(), font.bold()) << name;
    EXPECT_EQ(face.italic(), font.italic()) << name;
  }
  EXPECT_TRUE(C<QLabel>("WizardTitle")->font().bold() && C<QLabel>("WizardTitle")->font().italic());
  EXPECT_EQ(C<QGroupBox>("LCurrentFile")->title(), " Current file ");
  EXPECT_EQ(C<QGroupBox>("LAllFiles")->title(), " All files ");
  EXPECT_EQ(Text("LDownloadingFileFrom"), "Downloading file from");
  EXPECT_EQ(Text("LEstimatedTime"), "Preparing. . .");
  EXPECT_EQ(Text("LTransferRate"), "");
  EXPECT_EQ(Text("LFileSize"), "");
  EXPECT_EQ(Text("AboutLabel"), " Kelvora ");
  EXPECT_EQ(Text("AboutShadow"), " Kelvora ");
  EXPECT_EQ(Text("AfterNote"), "");

  auto* finish = C<QPushButton>("FinishBtn");
  auto* cancel = C<QPushButton>("CancelBtn");
  EXPECT_EQ(finish->text(), "&Next >");
  EXPECT_FALSE(finish->isEnabled());
  EXPECT_EQ(cancel->text(), "&Cancel");
  EXPECT_TRUE(cancel->isEnabled());
  EXPECT_TRUE(cancel->isDefault());
  EXPECT_TRUE(C<QLineEdit>("FileURL")->isReadOnly());
  EXPECT_EQ(C<QLineEdit>("FileURL")->focusPolicy() & Qt::TabFocus, 0) << "not a tab stop";
  EXPECT_EQ(C<QProgressBar>("ProgressCurrentFile")->maximum(), 100);
  EXPECT_EQ(C<QLabel>("Image1")->pixmap().size(), QSize(118, 218)) << "the built-in picture";
}

TEST_F(WizardTest, HideFileLocationMovesTheLinesUpAndTheBoxDown) {
  TkvWizardOptions o;
  o.HideFileLocation = true;
  o.StayOnTop = false;
  Open(o);
  EXPECT_FALSE(w->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(C<QWidget>("FileURL")->isVisible());
  EXPECT_FALSE(C<QWidget>("LDownloadingFileFrom")->isVisible());
  EXPECT_EQ(Geo("LFileSize").y(), 14);
  EXPECT_EQ(Geo("LTransferRate").y(), 30);
  EXPECT_EQ(Geo("LEstimatedTime").y(), 46);
  EXPECT_EQ(Geo("ProgressCurrentFile").y(), 66);
  EXPECT_EQ(Geo("LCurrentFile"), QRect(136, 44, 319, 95));
  kvtest::SaveScreenshot(w, "wizard-hidden-location");
}

TEST_F(WizardTest, GivenPictureIsStretchedAndAnUnreadableOneKeepsTheBuiltIn) {
  kvtest::TempDir dir;
  QImage img(40, 30, QImage::Format_RGB32);
  img.fill(Qt::red);
  ASSERT_TRUE(img.save(Q(dir.File("pic.png"))));
  TkvWizardOptions o;
  o.PicturePath = dir.File("pic.png");
  Open(o);
  auto* image = C<QLabel>("Image1");
  EXPECT_EQ(image->pixmap().size(), QSize(40, 30));
  EXPECT_TRUE(image->hasScaledContents());
  const QImage shown = w->grab().toImage();
  const qreal dpr = shown.devicePixelRatio();
  EXPECT_EQ(QColor(shown.pixel(int(12 * dpr), int(12 * dpr))), QColor(Qt::red)) << "fills the frame's top left";
  EXPECT_EQ(QColor(shown.pixel(int(128 * dpr), int(228 * dpr))), QColor(Qt::red)) << "and its bottom right";
  ui->DestroyWizard();

  kvtest::WriteTextFile(dir.File("broken.png"), "not a picture");
  o.PicturePath = dir.File("broken.png");
  Open(o);
  EXPECT_EQ(C<QLabel>("Image1")->pixmap().size(), QSize(118, 218));
}

TEST_F(WizardTest, UpdatesShowWhatTheEngineWrites) {
  Open();
  ui->WizardFile("http://127.0.0.1/files/prog.bin", FormatLangText(ltDownloadingCount, {2, 5}));
  EXPECT_EQ(C<QLineEdit>("FileURL")->text(), "http://127.0.0.1/files/prog.bin");
  EXPECT_EQ(Text("AllDownloading"), "Downloading 2 of 5");
  EXPECT_EQ(Text("LEstimatedTime"), "Preparing. . .") << "until the first progress report";

  ui->WizardFileSize(FormatLangText(ltFileSize, {1536 / 1024.0}));
  const int t = 3725;
  ui->WizardProgress(40, 70, FormatLangText(ltTransferRate, {12.5}),
                     FormatLangText(ltTimeLeft, {t / 3600, (t / 60) % 60, t % 60}));
  EXPECT_EQ(Text("LEstimatedTime"), "Estimated time left: 1:02:05");
  EXPECT_TRUE(Text("LFileSize").startsWith("File size: 1")) << Text("LFileSize").toStdString();
  EXPECT_TRUE(Text("LTransferRate").startsWith("Transfer rate: 12")) << Text("LTransferRate").toStdString();
  EXPECT_EQ(C<QProgressBar>("ProgressCurrentFile")->value(), 40);
  EXPECT_EQ(C<QProgressBar>("ProgressAllFiles")->value(), 70);
  // Labels sized to their text.
  EXPECT_GE(Geo("LEstimatedTime").width(), C<QLabel>("LEstimatedTime")->sizeHint().width());

  // The next file keeps the lines until its own figures arrive.
  ui->WizardFile("http://127.0.0.1/files/help.chm", FormatLangText(ltDownloadingCount, {3, 5}));
  EXPECT_EQ(Text("LEstimatedTime"), "Estimated time left: 1:02:05");
  EXPECT_EQ(C<QProgressBar>("ProgressCurrentFile")->value(), 40);
  kvtest::SaveScreenshot(w, "wizard-download-page");
}

TEST_F(WizardTest, CompletionPageOffersOnlyOKAndEnterClosesWithoutQuestion) {
  // A name long enough that its sentence wraps in any face: the note grows.
  TkvWizardOptions o;
  o.AppTitle = "Kelvora Demo Application With A Rather Long Name For Its Window Title";
  Open(o);
  ui->ShowWizardCompleted();
  EXPECT_EQ(Text("WizardTitle"), "Upgrade completed!");
  EXPECT_EQ(Text("AfterNote"), Q(FormatLangText(ltCompletedNote, {o.AppTitle})));
  auto* note = C<QLabel>("AfterNote");
  const QFontMetrics fm(note->font());
  EXPECT_EQ(Geo("AfterNote").width(), 319);
  EXPECT_GE(Geo("AfterNote").height(), fm.boundingRect(QRect(0, 0, 319, 10000), Qt::TextWordWrap, note->text()).height())
      << "the whole text shows";
  EXPECT_GE(Geo("AfterNote").height(), 4 * fm.lineSpacing()) << "grows with the wrapped lines";
  EXPECT_LE(Geo("AfterNote").bottom(), Geo("Bevel1").top()) << "and stays above the buttons";
  EXPECT_FALSE(C<QWidget>("LCurrentFile")->isVisible());
  EXPECT_FALSE(C<QWidget>("LAllFiles")->isVisible());
  auto* finish = C<QPushButton>("FinishBtn");
  EXPECT_FALSE(C<QPushButton>("CancelBtn")->isEnabled());
  EXPECT_TRUE(finish->isEnabled());
  EXPECT_EQ(finish->text(), "&OK");
  EXPECT_TRUE(finish->isDefault());
  EXPECT_EQ(w->focusWidget(), finish);
  kvtest::SaveScreenshot(w, "wizard-completion-page");

  // Esc does nothing while Cancel is disabled.
  QTest::keyClick(w, Qt::Key_Escape);
  PumpUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(Hooks(), "");
  EXPECT_TRUE(ui->HasWizard());

  QPointer<QWidget> alive(w);
  QTest::keyClick(w, Qt::Key_Return);
  EXPECT_EQ(Hooks(), "Closed");
  EXPECT_FALSE(ui->HasWizard());
  EXPECT_TRUE(PumpUntil([&] { return alive.isNull(); })) << "destroyed after closing";

  // A host that set no title: the note names the program by its file.
  const std::string saved = Application().Title();
  Application().SetTitle("");
  ui->ShowWizard({}, {});
  w = ui->WizardWindow();
  ui->ShowWizardCompleted();
  EXPECT_EQ(Text("AfterNote"), Q(FormatLangText(ltCompletedNote, {"qt_tests"})));
  ui->DestroyWizard();
  Application().SetTitle(saved);
}

TEST_F(WizardTest, EnterOrEscDuringTheDownloadAskAndNoKeepsItRunning) {
  Open();
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
    bool asked = false;
    AnswerAbortQuestion(QMessageBox::No, &asked);
    QTest::keyClick(w, key);
    ASSERT_TRUE(PumpUntil([&] { return asked; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_EQ(Hooks(), "");
    EXPECT_TRUE(ui->HasWizard());
    EXPECT_TRUE(w->isVisible());
  }
  // The Cancel button itself, answered Yes: closed, then aborted.
  bool asked = false;
  AnswerAbortQuestion(QMessageBox::Yes, &asked);
  C<QPushButton>("CancelBtn")->click();
  ASSERT_TRUE(PumpUntil([&] { return !hooks.empty(); }));
  EXPECT_TRUE(asked);
  EXPECT_EQ(Hooks(), "Closed,Abort");
  EXPECT_FALSE(ui->HasWizard());
}

TEST_F(WizardTest, CloseBoxOnTheCompletionPageStillAsksAndYesAborts) {
  Open();
  ui->ShowWizardCompleted();
  bool asked = false;
  AnswerAbortQuestion(QMessageBox::Yes, &asked);
  w->close();
  ASSERT_TRUE(PumpUntil([&] { return !hooks.empty(); }));
  EXPECT_EQ(Hooks(), "Closed,Abort");
}

TEST_F(WizardTest, DestroyedByTheEngineWithoutCloseHandling) {
  Open();
  QPointer<QWidget> alive(w);
  ui->DestroyWizard();
  EXPECT_FALSE(ui->HasWizard());
  EXPECT_TRUE(alive.isNull());
  EXPECT_EQ(Hooks(), "");

  // Destroyed while the abort question is open: the later Yes does nothing.
  Open();
  alive = w;
  bool asked = false;
  OnModal([&](QWidget* modal) {
    asked = true;
    ui->DestroyWizard();
    qobject_cast<QMessageBox*>(modal)->button(QMessageBox::Yes)->click();
  });
  QTest::keyClick(w, Qt::Key_Escape);
  ASSERT_TRUE(PumpUntil([&] { return asked && alive.isNull(); }));
  EXPECT_EQ(Hooks(), "");
  EXPECT_FALSE(ui->HasWizard());
}

TEST_F(WizardTest, TextsWithBareCarriageReturnsBreakLines) {
  SetLanguageBaseId(LanguageBlockId(wlDanish));
  Open();
  ui->ShowWizardCompleted();
  const QString note = Text("AfterNote");
  EXPECT_FALSE(note.contains('\r'));
  EXPECT_TRUE(note.contains("\n\n")) << note.toStdString();
  EXPECT_EQ(w->windowTitle(), Q(GetLangText(ltWizardCaption)));
  kvtest::SaveScreenshot(w, "wizard-completion-danish");
}
