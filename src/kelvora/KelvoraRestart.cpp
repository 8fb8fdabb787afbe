// The end of an upgrade: the updater program is written to a private folder
// that can run it and started; the application closes only once it runs.
#include "kelvora/Application.h"
#include "kelvora/StateFolder.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/kvKelvora.h"

namespace kelvora {

namespace detail {
std::string UpdaterProgramBytes();
}

const std::string& UpdaterPath() {
  static const std::string path = GetTempFolder() + detail::kUpdaterFileName;
  return path;
}

void TkvKelvora::RestartApplication() {
  LaunchUpdater(restartParams_ + (foundMethod_ == umUseExternalSetup ? "1" : "0"));
}

void TkvKelvora::LaunchUpdater(const std::string& Params) {
  // 1. The updater program, byte for byte from the embedded resource, as a
  // new file in a private folder that can run it.
  const std::string program = detail::UpdaterProgramBytes();
  const std::string folder =
      updaterFolder_.empty() ? detail::ChooseUpdaterFolder(StateFolderOf(CurrentExeName()), program.size())
                             : updaterFolder_;
  detail::TUpdaterFile file;
  int pid = -1;
  if (!folder.empty() && detail::WriteUpdaterFile(folder, program, file)) {
    ApplyFileAttributes(file.Path, {atrTemporary});
    // 2. Started as a process of its own that outlives the application,
    // holding the upgrade lock from here on. The program's name and " +"
    // with the parameters are its two arguments, so a blank in the program's
    // path or in the restart parameters survives.
    std::vector<std::string> args{file.Path, CurrentExeName(), "+" + Params};
    if (!restartArguments_.empty()) {
      args.emplace_back("--");  // the program's own arguments follow, one by one
      args.insert(args.end(), restartArguments_.begin(), restartArguments_.end());
    }
    pid = detail::StartUpdater(file, args, run_ ? run_->LockFd() : -1);
    if (pid < 0) detail::RemoveUpdaterFile(file);
  }
  if (pid < 0) {
    // The application stays; nothing of the upgrade is left behind.
    finished_ = false;
    FailRun(GetLangText(ltUpdaterFailed));
    return;
  }
  if (run_) run_->Release();
  // 3. The application closes, in the host's own way when it wants one.
  if (OnDoOwnCloseAppMethod)
    OnDoOwnCloseAppMethod(this);
  else
    CloseApplication();
}

}  // namespace kelvora
