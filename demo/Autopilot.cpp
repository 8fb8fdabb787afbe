#include "Autopilot.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "Main.h"
#include "kelvora/Application.h"

using namespace kelvora;

namespace demo {

namespace {
QPushButton* Button(QWidget* W, const char* Name) { return W->findChild<QPushButton*>(QString::fromLatin1(Name)); }
}  // namespace

TAutopilot::TAutopilot(TForm1& Form, const TDemoOptions& Options, TGoal Goal)
    : form_(Form),
      rules_(*Form.Kelvora(), Options, Goal,
             // Ends the run once the component's handler has returned.
             [this] { QTimer::singleShot(0, &form_, [this] { form_.close(); }); }) {
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
  timer_.start(20);
  QTimer::singleShot(0, this, [this] {
    rules_.Report("checking " + form_.Kelvora()->InfoFileURL());
    form_.CheckButton()->click();
  });
}

void TAutopilot::Step() {
  if (rules_.PastDeadline()) {
    rules_.Fail("no upgrade within the time limit");
    // Modal windows would keep the loop from ending.
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    return;
  }
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible()) {
    const QString name = modal->objectName();
    if (rules_.NoUpdateSeen() && qobject_cast<QMessageBox*>(modal) != nullptr) {
      // The component's answer to the second check: confirmed, and the run ends.
      static_cast<QMessageBox*>(modal)->done(QMessageBox::Ok);
      QTimer::singleShot(0, &form_, [this] { form_.close(); });
    } else if (name == "KelvoraUpgradeMessageForm") {
      Button(modal, "YesBtn")->click();
    } else if (name == "KelvoraPasswordForm") {
      rules_.Fail("the server asked for a password");
      Button(modal, "CancelBtn")->click();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      rules_.Fail("message: " + box->text().toStdString());
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
