#include "engine/EngineFixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

#include "kelvora/Application.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/StateFolder.h"
#include "platform/Resources.h"

using namespace kelvora;

namespace kvtest {

void EngineTest::SetUpTestSuite() {
  // The updater program and the queue file go to a temporary folder of this
  // process alone.
  static TempDir temp;
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", temp.Path().c_str(), 1);
}

void InstallRecordingBrowser(const TempDir& Desktop, const std::string& Record) {
  WriteTextFile(Desktop.File("browser.sh"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + Record + ".tmp && mv " + Record +
                                                ".tmp " + Record + "\n");
  ::chmod(Desktop.File("browser.sh").c_str(), 0755);
  WriteTextFile(Desktop.File("data/applications/kvtest-browser.desktop"),
                "[Desktop Entry]\nType=Application\nName=Test browser\nExec=" + Desktop.File("browser.sh") +
                    " %u\nMimeType=text/html;\n");
  WriteTextFile(Desktop.File("config/mimeapps.list"), "[Default Applications]\ntext/html=kvtest-browser.desktop\n");
  ::setenv("XDG_CONFIG_HOME", Desktop.File("config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", Desktop.File("data").c_str(), 1);
}

void ClearState() {
  // What a case's run staged and committed: never installed by the next
  // case's component (some target this test program itself).
  const std::string state = kelvora::StateFolder();
  std::istringstream staged(ReadWholeFile(state + "staging"));
  for (std::string line; std::getline(staged, line);)
    if (line.ends_with(".uTMP") || line.ends_with(".uPART") || line.ends_with(".uDIFF"))
      ::unlink(line.c_str());
  ::unlink((state + "staging").c_str());
  ::unlink((state + "queue").c_str());
  ::unlink((state + "resume").c_str());
  ::unlink((state + "sequences").c_str());
  ::unlink((state + "installation-id").c_str());
}

void EngineTest::SetUp() {
  // A stand-in updater that ends at once: the real one would wait for this
  // test program to end, then replace files beside it and start it again.
  static const char kNoUpdater[] = "#!/bin/sh\nexit 0\n";
  kelvora::platform::RegisterResource("KVLOR", "KVLOR", kNoUpdater, sizeof kNoUpdater - 1);
  ClearState();
  server = std::make_unique<Nginx>();
  ::unlink(ReleaseRecordPath().c_str());  // no release handed over by an earlier case
  k = std::make_unique<TkvKelvora>(nullptr);
  k->SetUI(&ui);
  k->SetVersionDate("01/01/2001");
  auto* self = this;
  k->OnBeginUpgrade = [self](TObject*, const std::string& msg, TztUpgradeMethod m, TkvStringList& files, bool&) {
    self->Record("BeginUpgrade:" + std::to_string(m) + ":" + std::to_string(files.Count()) + ":" + msg);
  };
  k->OnEndUpgrade = [self](TObject*, bool&) { self->Record("EndUpgrade"); };
  k->OnLaterUpgrade = [self](TObject*) { self->Record("Later"); };
  k->OnProgress = [self](TObject*, const std::string&, int64_t, int64_t, int32_t, int32_t, uint8_t, uint8_t, float) {
    self->Record("Progress");
  };
  k->OnFileStart = [self](TObject*, const std::string& url, int64_t size, const TDateTime&, bool& can) {
    self->Record("FileStart:" + url.substr(url.rfind('/') + 1) + ":" + std::to_string(size) + (can ? "" : ":skip"));
  };
  k->OnFileDone = [self](TObject*, const std::string& name) { self->Record("FileDone:" + name.substr(name.rfind('/') + 1)); };
  k->OnDoOwnCloseAppMethod = [self](TObject*) { self->Record("OwnClose"); };
  k->OnAborted = [self](TObject*) { self->Record("Aborted"); };
  k->OnConnLost = [self](TObject*) { self->Record("ConnLost"); };
  k->OnHostUnreachable = [self](TObject*, const std::string&, const std::string& host) {
    self->Record("HostUnreachable:" + host);
  };
  k->OnNoUpdateAvailable = [self](TObject*) { self->Record("NoUpdate"); };
  k->OnNoInfoFile = [self](TObject*) { self->Record("NoInfoFile"); };
  k->OnLostFile = [self](TObject*, const std::string&, int32_t code, bool&) { self->Record("LostFile:" + std::to_string(code)); };
  k->OnPasswordRequest = [self](TObject*, const std::string& realm, bool&) { self->Record("Password:" + realm); };
}

void EngineTest::TearDown() {
  k.reset();
  ClearState();
  ::unlink(ReleaseRecordPath().c_str());
  kelvora::platform::UnregisterResource("KVLOR", "KVLOR");
  Application().ClearTerminated();
}

void EngineTest::Record(const std::string& Event) {
  if (Event == "Progress" && !events.empty() && events.back() == "Progress") return;
  events.push_back(Event);
}

std::string EngineTest::Events() const {
  std::string out;
  for (const auto& e : events) out += (out.empty() ? "" : ";") + e;
  return out;
}

void EngineTest::PublishInfo(const std::string& Text) {
  server->AddTextFile("info.txt", Text);
  k->SetInfoFileURL(server->Url("/info.txt"));
}

bool EngineTest::Has(const std::string& Prefix) const {
  for (const auto& e : events)
    if (e.rfind(Prefix, 0) == 0) return true;
  return false;
}

bool EngineTest::RunCheckUntil(const std::string& Final) {
  // The stand-in updater of an earlier run may still hold the upgrade lock
  // for a moment.
  const int fd = ::open((kelvora::StateFolder() + "lock").c_str(), O_RDONLY | O_CLOEXEC);
  for (int i = 0; fd >= 0 && i < 500 && ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (fd >= 0) ::close(fd);
  k->CheckUpdates(false);
  return PumpUntil([&] { return Has(Final) && !k->Busy(); });
}

}  // namespace kvtest
