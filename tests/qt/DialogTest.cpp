#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>

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
