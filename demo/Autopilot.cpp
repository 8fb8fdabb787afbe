#include "Autopilot.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

#include "Main.h"
#include "kelvora/Application.h"

using namespace kelvora;

namespace demo {

namespace {
constexpr auto kLimit = std::chrono::seconds(120);

QPushButton* Button(QWidget* W, const char* Name) { return W->findChild<QPushButton*>(QString::fromLatin1(Name)); }
}  // namespace

TAutopilot::TAutopilot(TForm1& Form, const TDemoOptions& Options, TGoal Goal)
    : form_(Form), options_(Options), goal_(Goal), deadline_(std::chrono::steady_clock::now() + kLimit) {
  // Whatever the component reports besides an upgrade is a failure here.
  TkvKelvora* k = form_.Kelvora();
  auto aborted = k->OnAborted;
  k->OnAborted = [this, aborted](TObject* s) {
    if (aborted) aborted(s);
    Fail("upgrade aborted");
  };
  auto noUpdate = k->OnNoUpdateAvailable;
  k->OnNoUpdateAvailable = [this, noUpdate](TObject* s) {
    if (noUpdate) noUpdate(s);
    if (goal_ == glUpgrade) {
      Fail("no update available");
    } else {
      noUpdateSeen_ = true;
      Report(options_, "no update available (release " + form_.Kelvora()->VersionDate() + ")");
    }
  };
  k->OnBeginUpgrade = [this](TObject*, const std::string&, TztUpgradeMethod, TkvStringList&, bool& CanUpgrade) {
    if (goal_ == glNoUpdate) {
      Fail("the release just installed is offered again");
      CanUpgrade = false;
    }
  };
  k->OnNoInfoFile = [this](TObject*) { Fail("info file not found"); };
  k->OnConnLost = [this](TObject*) { Fail("connection lost"); };
  k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Fail("refused: " + Reason); };
  k->OnHostUnreachable = [this](TObject*, const std::string&, const std::string& Host) {
    Fail("host unreachable: " + Host);
  };
  k->OnEndUpgrade = [this](TObject*, bool&) { Report(options_, "upgrade downloaded; starting the updater"); };

  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  timer_.start(20);
  QTimer::singleShot(0, this, [this] {
    Report(options_, "checking " + form_.Kelvora()->InfoFileURL());
    form_.CheckButton()->click();
  });
}

void TAutopilot::Fail(const std::string& Why) {
  if (failed_) return;
  failed_ = true;
  std::fprintf(stderr, "kelvora-demo: %s\n", Why.c_str());
  Report(options_, "failed: " + Why);
  // Ends the run once the component's handler has returned.
  QTimer::singleShot(0, &form_, [this] { form_.close(); });
}

void TAutopilot::Step() {
  if (std::chrono::steady_clock::now() > deadline_) {
    Fail("no upgrade within the time limit");
    // Modal windows would keep the loop from ending.
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    return;
  }
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible()) {
    const QString name = modal->objectName();
    if (noUpdateSeen_ && qobject_cast<QMessageBox*>(modal) != nullptr) {
      // The component's answer to the second check: confirmed, and the run ends.
      static_cast<QMessageBox*>(modal)->done(QMessageBox::Ok);
      QTimer::singleShot(0, &form_, [this] { form_.close(); });
    } else if (name == "KelvoraUpgradeMessageForm") {
      Button(modal, "YesBtn")->click();
    } else if (name == "KelvoraPasswordForm") {
      Fail("the server asked for a password");
      Button(modal, "CancelBtn")->click();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      Fail("message: " + box->text().toStdString());
      box->done(QMessageBox::No);
    }
    return;
  }
  // The wizard's completion page: OK restarts the program.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != "KelvoraWizardForm" || !w->isVisible()) continue;
    if (QPushButton* finish = Button(w, "FinishBtn"); finish != nullptr && finish->isEnabled()) finish->click();
  }
}

}  // namespace demo
