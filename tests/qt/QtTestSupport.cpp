#include <gtest/gtest.h>

#include "qt/QtTestSupport.h"

#include <QDir>
#include <QTimer>

#include "kelvora/Application.h"

namespace kvtest {

namespace {

// The QApplication of the test program, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
  const auto end = std::chrono::steady_clock::now() + Limit;
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    kelvora::LoopBackend().WaitFor(nullptr, 10, kelvora::TWakeMask::AnyInput);
    kelvora::Application().ProcessMessages();
    QApplication::processEvents();
  }
  return true;
}

namespace {
struct ModalWait {
  std::function<void(QWidget*)> Action;
  std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
};

void PollModal(const std::shared_ptr<ModalWait>& W) {
  if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible()) {
    W->Action(modal);
    return;
  }
  if (std::chrono::steady_clock::now() - W->Started > std::chrono::seconds(20)) {
    ADD_FAILURE() << "no modal window appeared";
    return;
  }
  QTimer::singleShot(5, [W] { PollModal(W); });
}
}  // namespace

void OnModal(std::function<void(QWidget*)> Action) {
  auto w = std::make_shared<ModalWait>();
  w->Action = std::move(Action);
  QTimer::singleShot(0, [w] { PollModal(w); });
}

std::string SaveScreenshot(QWidget* W, const std::string& Name) {
  QDir().mkpath(KV_SCREENSHOT_DIR);
  const std::string path = std::string(KV_SCREENSHOT_DIR) + "/" + Name + ".png";
  EXPECT_TRUE(W->grab().save(QString::fromStdString(path))) << path;
  return path;
}

}  // namespace kvtest
