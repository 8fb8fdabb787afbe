#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "kelvora/kvLanguage.h"
#include "kelvora/qt/kvQtUpgradeUI.h"
#include "qt/QtTestSupport.h"

using namespace kelvora;
using kvtest::Child;
using kvtest::OnModal;

namespace {

QString Q(const std::string& S) { return QString::fromStdString(S); }

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedLanguage = LanguageBaseId();
    SetLanguageBaseId(LanguageBlockId(wlEnglish));
  }
  void TearDown() override { SetLanguageBaseId(savedLanguage); }

  static std::string Question(const std::string& Title, const std::string& Message) {
    return FormatLangText(ltAskUpgrade, {Title, Message.empty() ? "" : "\n" + Message + "\n"});
  }

  uint16_t savedLanguage = 0;
  TkvQtUpgradeUI ui;
};

}  // namespace

TEST_F(DialogTest, AskUpgradeLayoutAndEnterMeansYes) {
  const std::string text = Question("<AppTitle>", "");
  int height = 0;
  OnModal([&](QWidget* d) {
    EXPECT_EQ(d->windowTitle(), "Application update wizard");
    EXPECT_TRUE(d->windowFlags() & Qt::WindowStaysOnTopHint);
    auto* label = Child<QLabel>(d, "Label1");
    EXPECT_EQ(label->text(), Q(text)) << "shown as written, not as markup";
    EXPECT_EQ(label->geometry().topLeft(), QPoint(45, 5));
    EXPECT_EQ(label->width(), 318 + 6 - 45 - 11);
    EXPECT_GE(label->height(), 3 * label->fontMetrics().height()) << "three lines";
    EXPECT_EQ(Child<QWidget>(d, "Icon")->geometry(), QRect(7, 5, 32, 32));
    EXPECT_EQ(d->width(), 318);
    EXPECT_EQ(d->height(), 5 + label->height() + 45);
    EXPECT_EQ(Child<QWidget>(d, "BottomPanel")->geometry(), QRect(0, d->height() - 45, 318, 45));
    auto* yes = Child<QPushButton>(d, "YesBtn");
    EXPECT_EQ(yes->geometry(), QRect(78, 13, 75, 23));
    EXPECT_EQ(yes->text(), "&Yes");
    EXPECT_TRUE(yes->isDefault());
    EXPECT_EQ(Child<QPushButton>(d, "LaterBtn")->geometry(), QRect(167, 13, 75, 23));
    EXPECT_EQ(Child<QPushButton>(d, "LaterBtn")->text(), "&Later");
    height = d->height();
    kvtest::SaveScreenshot(d, "ask-upgrade-dialog");
    QTest::keyClick(d, Qt::Key_Return);
  });
  EXPECT_TRUE(ui.AskUpgrade(text));
  EXPECT_GT(height, 0);
}

TEST_F(DialogTest, AskUpgradeGrowsWithALongMessageAndEscOrCloseMeanLater) {
  std::string message;
  for (int i = 0; i < 12; ++i) message += "This release fixes a long list of problems reported by users. ";
  int shortHeight = 0, longHeight = 0;
  OnModal([&](QWidget* d) {
    shortHeight = d->height();
    QTest::keyClick(d, Qt::Key_Escape);
  });
  EXPECT_FALSE(ui.AskUpgrade(Question("Demo", "")));
  OnModal([&](QWidget* d) {
    longHeight = d->height();
    auto* label = Child<QLabel>(d, "Label1");
    EXPECT_EQ(Child<QWidget>(d, "BottomPanel")->y(), label->y() + label->height()) << "buttons stay at the bottom";
    kvtest::SaveScreenshot(d, "ask-upgrade-dialog-long");
    d->close();
  });
  EXPECT_FALSE(ui.AskUpgrade(Question("Demo", message)));
  EXPECT_GT(longHeight, shortHeight + 40);
}

namespace {

// The window and the named buttons lie inside the screen's available area.
void ExpectOnScreen(QWidget* D, const std::vector<QAbstractButton*>& Buttons, const std::string& What) {
  const QRect avail = D->screen()->availableGeometry();
  EXPECT_TRUE(avail.contains(D->frameGeometry())) << What << ": window outside the screen";
  for (QAbstractButton* b : Buttons) {
    ASSERT_NE(b, nullptr);
    const QRect r(b->mapToGlobal(QPoint(0, 0)), b->size());
    EXPECT_TRUE(b->isVisible() && avail.contains(r) && D->geometry().contains(r))
        << What << ": button " << b->text().toStdString() << " off the screen";
  }
}

}  // namespace

TEST_F(DialogTest, LongTextsScrollInsideTheScreen) {
  std::string note;
  for (int i = 1; i <= 200; ++i) note += "Line " + std::to_string(i) + ": fixed a problem that users reported.\n";
  for (TkvKelvoraLanguage lang : {wlEnglish, wlGerman, wlFrench, wlChineseSimplified}) {
    SetLanguageBaseId(LanguageBlockId(lang));
    const std::string text = Question("Demo", note);
    const std::string name = "language " + std::to_string(lang);
    OnModal([&](QWidget* d) {
      ExpectOnScreen(d, {Child<QPushButton>(d, "YesBtn"), Child<QPushButton>(d, "LaterBtn")}, name);
      auto* area = Child<QScrollArea>(d, "TextArea");
      auto* label = Child<QLabel>(d, "Label1");
      EXPECT_TRUE(area->isVisible() && area->widget() == label) << name << ": the note is in the box";
      EXPECT_EQ(label->text(), Q(text)) << name << ": all of it";
      EXPECT_GT(area->verticalScrollBar()->maximum(), 0) << name << ": it scrolls";
      EXPECT_LE(area->geometry().bottom(), Child<QWidget>(d, "BottomPanel")->y()) << name;
      if (lang == wlEnglish) kvtest::SaveScreenshot(d, "ask-upgrade-long-note-en");
      if (lang == wlGerman) kvtest::SaveScreenshot(d, "ask-upgrade-long-note-de");
      QTest::keyClick(d, lang == wlEnglish ? Qt::Key_Return : Qt::Key_Escape);
    });
    EXPECT_EQ(ui.AskUpgrade(text), lang == wlEnglish) << name;
  }
  // As long a message: the box keeps its buttons on the screen; the second
  // button is the default when the flags say so.
  SetLanguageBaseId(LanguageBlockId(wlGerman));
  OnModal([&](QWidget* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    ExpectOnScreen(d, {box->button(QMessageBox::Yes), box->button(QMessageBox::No)}, "message box");
    EXPECT_NE(d->findChild<QScrollArea*>("TextArea"), nullptr) << "the text scrolls";
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    kvtest::SaveScreenshot(d, "message-box-long-de");
    QTest::keyClick(d, Qt::Key_Return);
  });
  EXPECT_EQ(ui.MessageBox(FormatLangText(ltLostFile, {note}), "Fehler #404",
                          mbYesNo | mbIconExclamation | mbDefButton2),
            idNo);
  // A password asked for a file of as long a name.
  OnModal([&](QWidget* d) {
    ExpectOnScreen(d, {Child<QPushButton>(d, "OKBtn"), Child<QPushButton>(d, "CancelBtn")}, "password");
    EXPECT_TRUE(Child<QScrollArea>(d, "TextArea")->isVisible()) << "the text scrolls";
    Child<QPushButton>(d, "CancelBtn")->click();
  });
  std::string user, pass;
  EXPECT_FALSE(ui.AskPassword(FormatLangText(ltPasswordRequest, {note}), user, pass));
}

TEST_F(DialogTest, PasswordDialogFillsTheUserAndReturnsWhatWasTyped) {
  const std::string text = FormatLangText(ltPasswordRequest, {"prog.bin"});
  OnModal([&](QWidget* d) {
    EXPECT_EQ(d->windowTitle(), "Enter password");
    auto* label = Child<QLabel>(d, "Label1");
    EXPECT_EQ(label->text(), Q(text));
    EXPECT_EQ(label->geometry().topLeft(), QPoint(45, 5));
    EXPECT_EQ(label->width(), 297 - 45 - 18);
    EXPECT_EQ(d->width(), 297);
    EXPECT_EQ(d->height(), 5 + label->height() + 98);
    EXPECT_EQ(Child<QWidget>(d, "BottomPanel")->geometry(), QRect(0, d->height() - 98, 297, 98));
    EXPECT_EQ(Child<QWidget>(d, "Image1")->geometry(), QRect(7, 5, 32, 32));
    EXPECT_EQ(Child<QLabel>(d, "UsernameLab")->text(), "User Name");
    EXPECT_EQ(Child<QLabel>(d, "UsernameLab")->pos(), QPoint(45, 14));
    EXPECT_EQ(Child<QLabel>(d, "PasswordLab")->text(), "Password");
    EXPECT_EQ(Child<QLabel>(d, "PasswordLab")->pos(), QPoint(45, 38));
    auto* user = Child<QLineEdit>(d, "UsernameEdit");
    auto* pass = Child<QLineEdit>(d, "PasswordEdit");
    EXPECT_EQ(user->geometry(), QRect(122, 10, 157, 21));
    EXPECT_EQ(pass->geometry(), QRect(122, 34, 157, 21));
    EXPECT_EQ(user->text(), "olduser");
    EXPECT_EQ(pass->text(), "") << "the password starts empty every time";
    EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Child<QPushButton>(d, "OKBtn")->geometry(), QRect(114, 68, 75, 23));
    EXPECT_EQ(Child<QPushButton>(d, "OKBtn")->text(), "&OK");
    EXPECT_EQ(Child<QPushButton>(d, "CancelBtn")->geometry(), QRect(204, 68, 75, 23));
    EXPECT_EQ(Child<QPushButton>(d, "CancelBtn")->text(), "&Cancel");
    user->clear();
    QTest::keyClicks(user, "kv");
    QTest::keyClicks(pass, "s3cret");
    kvtest::SaveScreenshot(d, "password-dialog");
    QTest::keyClick(d, Qt::Key_Return);  // the default button, OK
  });
  std::string user = "olduser", pass = "oldpass";
  EXPECT_TRUE(ui.AskPassword(text, user, pass));
  EXPECT_EQ(user, "kv");
  EXPECT_EQ(pass, "s3cret");
}

TEST_F(DialogTest, PasswordCancelChangesNothing) {
  OnModal([](QWidget* d) {
    QTest::keyClicks(Child<QLineEdit>(d, "UsernameEdit"), "other");
    Child<QPushButton>(d, "CancelBtn")->click();
  });
  std::string user = "kv", pass = "secret";
  EXPECT_FALSE(ui.AskPassword("Password please", user, pass));
  EXPECT_EQ(user, "kv");
  EXPECT_EQ(pass, "secret");
}

TEST_F(DialogTest, MessageBoxesFollowTheirFlags) {
  // The missing-file question: Yes/No, exclamation, system-modal.
  OnModal([](QWidget* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Error #404");
    EXPECT_EQ(box->text(), "File x not found.\n\nSkip it?");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(ui.MessageBox("File x not found.\r\rSkip it?", "Error #404", mbYesNo | mbIconExclamation | mbSystemModal),
            idNo);

  OnModal([](QWidget* d) {
    auto* box = qobject_cast<QMessageBox*>(d);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->text(), "Host <b>x</b>\nunreachable.") << "plain text, CR LF as one break";
    kvtest::SaveScreenshot(d, "message-box-error");
    QTest::keyClick(d, Qt::Key_Return);
  });
  EXPECT_EQ(ui.MessageBox("Host <b>x</b>\r\nunreachable.", "Caption", mbOK | mbIconError), idOK);

  OnModal([](QWidget* d) {
    EXPECT_EQ(qobject_cast<QMessageBox*>(d)->icon(), QMessageBox::Information);
    QTest::keyClick(d, Qt::Key_Escape);
  });
  EXPECT_EQ(ui.MessageBox("No update.", "Caption", mbOK | mbIconInformation), idOK);
}
