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

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "kelvora/Application.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/kvLanguage.h"
#include "kelvora/qt/kvQtLoop.h"
#include "kelvora/qt/kvQtUpgradeUI.h"
#include "platform/Resources.h"
#include "qt/QtTestSupport.h"
#include "support/FaultServer.h"
#include "support/Nginx.h"
#include "support/OwnProgram.h"
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
  if (RanInOwnProgram()) return;
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

// The wizard's rate and time left against a server that sends 20 000 bytes
// a second, once with its size announced and once without.
TEST_F(QtUpgradeRunTest, WizardFiguresMatchTheTransferAndStayBlankUntilKnown) {
  if (RanInOwnProgram()) return;
  // Listed addresses cannot carry "=", so nginx passes plain names on to
  // the fault server's slow body, as it comes.
  FaultServer slow;
  Nginx::Options o;
  for (const char* name : {"sized", "unsized"})
    o.ExtraServer += std::string("location = /") + name + ".bin { rewrite ^ /slow?n=50000&chunk=2000&delay=100" +
                     (name[0] == 'u' ? "&length=0" : "") + " break; proxy_buffering off; proxy_pass " + slow.Url("") +
                     "; }\n";
  Nginx web(o);
  TempDir dir;
  web.AddTextFile("info.txt", "#date=12/31/2099\n#url1=" + web.Url("/sized.bin") + "=" + dir.File("sized.bin") +
                                  "\n#url2=" + web.Url("/unsized.bin") + "=" + dir.File("unsized.bin") + "\n");
  TkvQtUpgradeUI ui;
  auto k = std::make_unique<TkvKelvora>(nullptr);
  k->SetUI(&ui);
  k->SetVersionDate("01/01/2001");
  k->SetShowMessages(ShowMessagesOf({mConnLost, mLostFile}));  // no question
  k->SetInfoFileURL(web.Url("/info.txt"));

  // What the wizard showed after each report: the report's time and count.
  struct Sample {
    double Seconds;
    int64_t Bytes;
    std::string Rate, TimeLeft, Size;
  };
  std::vector<std::vector<Sample>> files;
  k->OnFileStart = [&](TObject*, const std::string&, int64_t, const TDateTime&, bool&) { files.emplace_back(); };
  // A progress event comes before the wizard's update: each sees the
  // wizard as the report before it left it.
  const auto start = std::chrono::steady_clock::now();
  Sample last{};
  k->OnProgress = [&](TObject*, const std::string&, int64_t, int64_t Bytes, int32_t, int32_t, uint8_t, uint8_t, float) {
    QWidget* w = ui.WizardWindow();
    if (w != nullptr && !files.empty()) {
      last.Rate = Child<QLabel>(w, "LTransferRate")->text().toStdString();
      last.TimeLeft = Child<QLabel>(w, "LEstimatedTime")->text().toStdString();
      last.Size = Child<QLabel>(w, "LFileSize")->text().toStdString();
      files.back().push_back(last);
      if (files.size() == 2 && !last.Rate.empty() && files.back().size() == 10) SaveScreenshot(w, "wizard-no-size");
    }
    last = {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), Bytes, "", "", ""};
  };
  bool done = false;
  k->OnEndUpgrade = [&](TObject*, bool& RestartNow) {
    RestartNow = false;
    done = true;
  };
  QTimer user;  // OK on the completion page
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (QWidget* w = ui.WizardWindow(); w != nullptr && Child<QPushButton>(w, "FinishBtn")->isEnabled())
      Child<QPushButton>(w, "FinishBtn")->click();
  });
  user.start(5);
  k->CheckUpdates(false);
  ASSERT_TRUE(PumpUntil([&] { return done && !k->Busy(); }, std::chrono::seconds(60)));
  user.stop();
  k.reset();
  ASSERT_EQ(files.size(), 2u);

  const QRegularExpression rate("^Transfer rate: ([0-9.]+) Kb/s$"), left("^Estimated time left: (\\d+):(\\d\\d):(\\d\\d)$");
  for (size_t f = 0; f < 2; ++f) {
    SCOPED_TRACE(f == 0 ? "size announced" : "no size");
    // The first report of a file sees the lines of the file before; the
    // rate is timed from the file's first report on.
    const auto& seen = files[f];
    ASSERT_GT(seen.size(), 5u);
    EXPECT_EQ(seen[1].Rate, "") << "nothing timed at the first report";
    // The wizard reads its clock on this thread right after each progress
    // event, so its time since the first report lies between what this
    // test's clock says at the events around it. Bounds of that kind hold
    // however the threads are scheduled.
    int rated = 0;
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
      const Sample& s = seen[i];
      EXPECT_EQ(s.Size, f == 0 ? "File size: 48.8 Kb" : "") << "no made-up size";
      const double earliest = std::max(s.Seconds - seen[2].Seconds, 1.0), latest = seen[i + 1].Seconds - seen[1].Seconds;
      if (s.Rate.empty()) {
        EXPECT_EQ(rated, 0) << "a rate, once shown, stays";
        EXPECT_LT(s.Seconds - seen[2].Seconds, 1.0) << "no rate after a second";
        EXPECT_EQ(s.TimeLeft, "");
        continue;
      }
      ++rated;
      const auto r = rate.match(QString::fromStdString(s.Rate));
      ASSERT_TRUE(r.hasMatch()) << s.Rate;
      ASSERT_GE(latest, 1.0) << "a rate within the first second: " << s.Rate;
      const double bytes = s.Bytes - seen[1].Bytes, shown = r.captured(1).toDouble();
      EXPECT_GE(shown, bytes / latest / 1024 - 0.05) << s.Rate;
      EXPECT_LE(shown, bytes / earliest / 1024 + 0.05) << s.Rate;
      if (f == 1) {
        EXPECT_EQ(s.TimeLeft, "") << "unknown without a size, never negative";
        continue;
      }
      const auto t = left.match(QString::fromStdString(s.TimeLeft));
      ASSERT_TRUE(t.hasMatch()) << s.TimeLeft;
      const int seconds = t.captured(1).toInt() * 3600 + t.captured(2).toInt() * 60 + t.captured(3).toInt();
      const double remaining = 50000 - s.Bytes;
      EXPECT_GE(seconds, std::ceil(remaining * earliest / bytes)) << s.TimeLeft;
      EXPECT_LE(seconds, std::ceil(remaining * latest / bytes)) << s.TimeLeft;
    }
    EXPECT_GE(rated, 3);
  }
}
