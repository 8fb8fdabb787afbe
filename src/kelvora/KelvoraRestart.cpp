// The end of an upgrade: the updater program is written to a private folder
// that can run it and started; the application closes only once it runs.
// The same start hands the updater an undo that a running program cannot
// make itself.
#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/StateFolder.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/kvKelvora.h"
#include "updater/Command.h"

namespace kelvora {

namespace detail {
std::string UpdaterProgramBytes();
}

const std::string& UpdaterPath() {
  static const std::string path = GetTempFolder() + detail::UpdaterFileName(CurrentExeName());
  return path;
}

void TkvKelvora::RestartApplication() {
  LaunchUpdater(d_->restartParams_ + (d_->foundMethod_ == umUseExternalSetup ? "1" : "0"));
}

namespace {

// The updater's command line, each part one argument exactly as given.
std::vector<std::string> UpdaterCommand(bool Recovery, bool Restart, const std::string& RestartParam, bool Setup,
                                        std::vector<std::string> Arguments) {
  updater::TCommand cmd;
  cmd.Recovery = Recovery;
  cmd.AppPath = CurrentExeName();
  cmd.Restart = Restart;
  cmd.RestartParam = RestartParam;
  cmd.SetupMode = Setup;
  cmd.Arguments = std::move(Arguments);
  return updater::FormatCommand(cmd);
}

}  // namespace

namespace {

// 1. The updater program, byte for byte from the embedded resource, as a new
// file in a private folder that can run it (Folder, or one chosen now). 2.
// Started as a process of its own that outlives the application, with
// Params after its own path, holding the upgrade lock from then on. Its
// process id, or -1.
int WriteAndStartUpdater(const std::string& Folder, const std::vector<std::string>& Params, int LockFd) {
  const std::string program = detail::UpdaterProgramBytes();
  const std::string folder =
      Folder.empty() ? detail::ChooseUpdaterFolder(StateFolderOf(CurrentExeName()), program.size()) : Folder;
  detail::TUpdaterFile file;
  if (folder.empty() || !detail::WriteUpdaterFile(folder, detail::UpdaterFileName(CurrentExeName()), program, file))
    return -1;
  ApplyFileAttributes(file.Path, {atrTemporary});
  std::vector<std::string> args{file.Path};
  args.insert(args.end(), Params.begin(), Params.end());
  const int pid = detail::StartUpdater(file, args, LockFd);
  if (pid < 0) detail::RemoveUpdaterFile(file);
  return pid;
}

}  // namespace

void TkvKelvora::LaunchUpdater(const std::string& Params) {
  // Params: the restart parameter and the method digit. The restart
  // parameter and the program's own arguments reach the new build as they
  // are, one argument each.
  const bool setup = !Params.empty() && Params.back() == '1';
  const std::vector<std::string> args = UpdaterCommand(
      false, true, Params.empty() ? std::string() : Params.substr(0, Params.size() - 1), setup, d_->restartArguments_);
  const int pid = WriteAndStartUpdater(d_->updaterFolder_, args, d_->run_ ? d_->run_->LockFd() : -1);
  if (pid < 0) {
    // The application stays; nothing of the upgrade is left behind.
    d_->finished_ = false;
    ForgetHandOver();
    FailRun(GetLangText(ltUpdaterFailed));
    return;
  }
  if (d_->run_) d_->run_->Release();
  // 3. The application closes, in the host's own way when it wants one.
  if (OnDoOwnCloseAppMethod)
    OnDoOwnCloseAppMethod(this);
  else
    CloseApplication();
}

bool TkvKelvora::HandRecoveryToUpdater(int LockFd) {
  // The updater makes this start again once it has settled the records:
  // the same arguments, without the restart parameters.
  std::vector<std::string> own;
  for (int i = 1; i <= Application().ParamCount(); ++i) own.push_back(Application().ParamStr(i));
  return WriteAndStartUpdater("", UpdaterCommand(true, false, "", false, std::move(own)), LockFd) > 0;
}

}  // namespace kelvora
