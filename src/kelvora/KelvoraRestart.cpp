// The end of an upgrade: the updater program and the queue file are written
// to the temporary folder, the updater is started and the application closes.
#include <sys/stat.h>

#include "kelvora/Application.h"
#include "kelvora/Streams.h"
#include "kelvora/UpdaterProgram.h"
#include "kelvora/kvKelvora.h"
#include "platform/Process.h"

namespace kelvora {

const std::string& UpdaterPath() {
  static const std::string path = GetTempFolder() + "AppUpdate.exe";
  return path;
}

std::string QueueFilePath() { return GetTempFolder() + "UpgraderQueue.txt"; }

void TkvKelvora::RestartApplication() {
  LaunchUpdater(restartParams_ + (foundMethod_ == umUseExternalSetup ? "1" : "0"));
}

void TkvKelvora::LaunchUpdater(const std::string& Params) {
  // 1. The updater program, byte for byte from the embedded resource. It is
  // created executable by its owner only; a file that cannot be created is
  // left as it is and started all the same.
  try {
    TFileStream out(UpdaterPath(), fmCreate | fmShareDenyNone, 0700);
    ::fchmod(out.Handle(), 0700);  // also when an older file was replaced
    TMemoryStream program;
    detail::RegisterUpdaterProgram();
    SaveResourceToStream(HInstance, "KVLOR", "KVLOR", &program);
    program.SaveToStream(out);
  } catch (const Exception&) {
  }
  ApplyFileAttributes(UpdaterPath(), {atrTemporary});
  // 2. The queue of targets (only written when some item has one).
  try {
    fileList_.SaveValuesToFile(QueueFilePath());
  } catch (const Exception&) {
  }
  // 3. Started as a process of its own that outlives the application. The
  // program's name and " +" with the parameters are its two arguments, so a
  // blank in the program's path or in the restart parameters survives.
  platform::SpawnDetached({UpdaterPath(), CurrentExeName(), "+" + Params});
  // 4. The application closes, in the host's own way when it wants one.
  if (OnDoOwnCloseAppMethod)
    OnDoOwnCloseAppMethod(this);
  else
    CloseApplication();
}

}  // namespace kelvora
