#include <gtest/gtest.h>

#include "qt/QtTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QTimer>

#include "kelvora/Application.h"

namespace kvtest {

namespace {

// The QApplication of the test program, on the offscreen platform.
// The faces the windows fall back to, from the files scripts/deps.sh
// installs (fonts-dejavu-core, fonts-dejavu-extra).
constexpr const char* kFontFolder = "/usr/share/fonts/truetype/dejavu";

// Layouts and faces must not depend on what else a machine has installed
// (imagemagick brings the URW faces, which match the windows' first choices):
// fontconfig is given a configuration without font folders, and the test
// program loads its faces from their files.
void IsolateFonts() {
  const QString dir = QStringLiteral(KV_SCREENSHOT_DIR "/../fontconfig");
  QDir().mkpath(dir + "/cache");
  QFile conf(dir + "/fonts.conf");
  if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    ADD_FAILURE() << "cannot write " << conf.fileName().toStdString();
    return;
  }
  conf.write(("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig><cachedir>" +
              (dir + "/cache").toUtf8() + "</cachedir></fontconfig>\n"));
  conf.close();
  qputenv("FONTCONFIG_FILE", conf.fileName().toLocal8Bit());
}

void LoadFonts() {
  int loaded = 0;
  for (const QString& file : QDir(kFontFolder).entryList({"DejaVu*.ttf"}, QDir::Files, QDir::Name))
    if (QFontDatabase::addApplicationFont(QString(kFontFolder) + "/" + file) >= 0) ++loaded;
  if (loaded == 0) ADD_FAILURE() << "no DejaVu faces in " << kFontFolder << " (scripts/deps.sh installs them)";
}

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    IsolateFonts();
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    LoadFonts();
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
