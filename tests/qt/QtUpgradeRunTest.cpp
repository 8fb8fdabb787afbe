// One upgrade run of the engine with the Qt windows and the Qt loop, against
// nginx: the question is answered Yes, the wizard shows both files and its
// completion page, OK starts the (stub) updater.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <cstdlib>
#include <memory>

#include "kelvora/Application.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"
#include "platform/Resources.h"
#include "qt/QtTestSupport.h"
#include "support/Nginx.h"
#include "support/TestFiles.h"

using namespace kelvora;
using namespace kvtest;

namespace {

// What the test saw of the windows while the engine ran.
struct Seen {
  bool Question = false;
  bool WizardWhileDownloading = false;
  bool Completion = false;
  QString AllDownloading, TimeLeft, FileURL;
  int TotalProgress = -1;
};

class QtUpgradeRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The updater program and the queue file go to a folder of this process.
    static TempDir temp;
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("TMPDIR", temp.Path().c_str(), 1);
  }
  void SetUp() override {
    savedLanguage = LanguageBaseId();
    SetLanguageBaseId(LanguageBlockId(wlEnglish));
    loop = std::make_unique<TQtLoopBackend>();
    SetLoopBackend(loop.get());
  }
  void TearDown() override {
    SetLoopBackend(nullptr);
    loop.reset();
    SetLanguageBaseId(savedLanguage);
  }

  uint16_t savedLanguage = 0;
  std::unique_ptr<TQtLoopBackend> loop;
};

}  // namespace

TEST_F(QtUpgradeRunTest, TwoFileUpgradeThroughTheQtWindows) {
  static const char kStub[] = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$KV_UPDATER_RECORD.tmp\"\nmv \"$KV_UPDATER_RECORD.tmp\" \"$KV_UPDATER_RECORD\"\n";
  platform::RegisterResource("KVLOR", "KVLOR", kStub, sizeof kStub - 1);
  TempDir dir;
  const std::string record = dir.File("updater-args.txt");
  ::setenv("KV_UPDATER_RECORD", record.c_str(), 1);

  Nginx server;
  server.AddPatternFile("prog.bin", 300000);
  server.AddPatternFile("doc/help.chm", 3000);
  server.AddTextFile("info.txt", "#date=12/31/2099\n#message={Faster downloads.}\n#url1=" + server.Url("/prog.bin") + "=" +
                                     dir.File("prog.bin") + "\n#url2=" + server.Url("/doc/help.chm") + "=" +
                                     dir.File("sub/help.chm") + "\n");

  Application().SetTitle("Qt Run Test");
  TkvQtUpgradeUI ui;
  auto k = std::make_unique<TkvKelvora>(nullptr);
  k->SetUI(&ui);
  k->SetVersionDate("01/01/2001");
  k->SetInfoFileURL(server.Url("/info.txt"));
  std::vector<std::string> events;
  k->OnEndUpgrade = [&](TObject*, bool&) { events.push_back("EndUpgrade"); };
  k->OnDoOwnCloseAppMethod = [&](TObject*) { events.push_back("OwnClose"); };
  k->OnAborted = [&](TObject*) { events.push_back("Aborted"); };
  k->OnFileDone = [&](TObject*, const std::string& name) { events.push_back("FileDone:" + name.substr(name.rfind('/') + 1)); };

  // The wizard is up while the files come in.
  Seen seen;
  k->OnProgress = [&](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, uint8_t, float) {
    QWidget* w = ui.WizardWindow();
    if (w != nullptr && w->isVisible() && !Child<QPushButton>(w, "FinishBtn")->isEnabled())
      seen.WizardWhileDownloading = true;
  };

  // The user: Yes to the question, OK on the completion page.
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->objectName() == "KelvoraUpgradeMessageForm") {
      seen.Question = Child<QLabel>(modal, "Label1")->text().contains("\nFaster downloads.\n");
      Child<QPushButton>(modal, "YesBtn")->click();
      return;
    }
    QWidget* w = ui.WizardWindow();
    if (w == nullptr) return;
    auto* finish = Child<QPushButton>(w, "FinishBtn");
    if (!finish->isEnabled() || seen.Completion) return;
    seen.Completion = true;
    seen.AllDownloading = Child<QLabel>(w, "AllDownloading")->text();
    seen.TimeLeft = Child<QLabel>(w, "LEstimatedTime")->text();
    seen.FileURL = Child<QLineEdit>(w, "FileURL")->text();
    seen.TotalProgress = Child<QProgressBar>(w, "ProgressAllFiles")->value();
    SaveScreenshot(w, "wizard-run-completion");
    finish->click();
  });
  user.start(5);

  k->CheckUpdates(false);
  ASSERT_TRUE(PumpUntil([&] { return !events.empty() && events.back() == "OwnClose" && !k->Busy(); }));
  user.stop();

  EXPECT_TRUE(seen.Question) << "the info file's message between empty lines";
  EXPECT_TRUE(seen.WizardWhileDownloading);
  ASSERT_TRUE(seen.Completion);
  EXPECT_EQ(seen.AllDownloading, "Downloading 2 of 2");
  EXPECT_EQ(seen.FileURL, QString::fromStdString(server.Url("/doc/help.chm")));
  EXPECT_TRUE(QRegularExpression("^Estimated time left: \\d+:\\d\\d:\\d\\d$").match(seen.TimeLeft).hasMatch())
      << seen.TimeLeft.toStdString();
  EXPECT_EQ(seen.TotalProgress, 100);
  EXPECT_FALSE(ui.HasWizard());

  std::string all;
  for (const auto& e : events) all += e + ";";
  EXPECT_EQ(all, "FileDone:prog.bin.uTMP;FileDone:help.chm.uTMP;EndUpgrade;OwnClose;");
  EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 300000));
  EXPECT_TRUE(FileHoldsPattern(dir.File("sub/help.chm.uTMP"), 3000));
  ASSERT_TRUE(PumpUntil([&] { return FileExists(record); }));
  EXPECT_EQ(ReadWholeFile(record), CurrentExeName() + "\n+/afterupgrade0\n");

  k.reset();
  platform::UnregisterResource("KVLOR", "KVLOR");
  ::unsetenv("KV_UPDATER_RECORD");
}
