// The upgrade run as a transaction: the lock and the checks before anything
// downloads, the commit of the queue once every file is complete, the removal
// of the run's files when it fails, and the completion of an install that was
// cut short, at the next start.
#include <algorithm>
#include <set>

#include "kelvora/Application.h"
#include "kelvora/FileCalls.h"
#include "kelvora/StateFolder.h"
#include "kelvora/Streams.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/UpdaterProgram.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/ProgramTarget.h"
#include "kelvora/kvKelvora.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

namespace {

bool HasSeparator(const std::string& Path) {
  return std::any_of(Path.begin(), Path.end(), updater::IsPathSeparator);
}

// The folder of Path with its last separator; the name after it.
std::string FolderOf(const std::string& Path) {
  size_t end = Path.size();
  while (end > 0 && !updater::IsPathSeparator(Path[end - 1])) --end;
  return Path.substr(0, end);
}
std::string NameOf(const std::string& Path) { return Path.substr(FolderOf(Path).size()); }

}  // namespace

std::string QueueFilePath() { return updater::QueuePath(StateFolder()); }

namespace detail {

// The updater's bytes, from the resource (a host or a test may register
// its own).
std::string UpdaterProgramBytes() {
  TMemoryStream program;
  RegisterUpdaterProgram();
  SaveResourceToStream(HInstance, "KVLOR", "KVLOR", &program);
  return std::string(reinterpret_cast<const char*>(program.Memory()), static_cast<size_t>(program.Size()));
}

}  // namespace detail

bool TkvKelvora::BeginRun() {
  if (!run_) run_ = std::make_shared<detail::TUpgradeRun>(CurrentExeName());
  switch (run_->Begin(true)) {
    case detail::TUpgradeRun::TBegin::Busy:
      FailRun(GetLangText(ltUpgradeBusy));
      return false;
    case detail::TUpgradeRun::TBegin::Unwritable:
      FailRun(FormatLangText(ltCannotWrite, {CurrentFolder()}));
      return false;
    case detail::TUpgradeRun::TBegin::Ok:
      break;
  }
  // Every target resolved and its folder made and tried before the first
  // byte is downloaded.
  targets_.clear();
  std::set<std::string> folders;
  for (int i = 0; i < fileList_.Count(); ++i) {
    const std::string target = fileList_.GetValue(i);
    std::string final;
    if (target.empty()) {
      final = CurrentFolder() + UrlToFileName(fileList_.GetName(i));
    } else {
      // Info files written for other systems separate folders otherwise.
      final = target;
      for (char& c : final)
        if (c == '\\' || c == '/') c = updater::kPathSeparator;
      final = ExpandFolderMacros(final, true);
      if (!HasSeparator(final)) final = CurrentFolder() + final;
      fileList_.SetValue(i, final);
    }
    if (updater::IsPathSeparator(final.back()) || detail::IsFolder(final)) {
      FailRun(FormatLangText(ltCannotWrite, {final}));  // a folder cannot be replaced by a file
      return false;
    }
    targets_.push_back(final);
    const std::string folder = FolderOf(final);
    if (!folders.insert(folder).second) continue;
    ForceFolders(final);
    if (!detail::CanWriteFolder(folder)) {
      FailRun(FormatLangText(ltCannotWrite, {folder}));
      return false;
    }
  }
  detail::NoteWhenProgramNotTargeted(fileList_, targets_, FoundMethod(), CurrentExeName(), programTargetNoted_);
  updaterFolder_ = detail::ChooseUpdaterFolder(run_->StateFolder(), detail::UpdaterProgramBytes().size());
  if (updaterFolder_.empty()) {
    FailRun(GetLangText(ltUpdaterFailed));
    return false;
  }
  return true;
}

bool TkvKelvora::CommitRun() {
  if (!run_) return true;
  // Every complete download with the file it replaces. Files listed without
  // a target keep their own name in the program's folder, except that the
  // first program file among them (by name) is the program's new build (or,
  // for an external setup, the setup to run), unless the program's own file
  // is among them.
  std::vector<updater::TQueueEntry> entries, plain;
  const std::string program = CurrentExeName();
  bool programSettled = false;
  for (int i = 0; i < fileList_.Count() && i < static_cast<int>(targets_.size()); ++i) {
    const std::string download = detail::DownloadNameOf(targets_[i]);
    if (!updater::Exists(download)) continue;  // skipped
    if (fileList_.GetValue(i).empty()) {
      plain.push_back({download, targets_[i], false});
      programSettled = programSettled || updater::SamePath(targets_[i], program);
    } else {
      entries.push_back({download, targets_[i], false});
    }
  }
  std::sort(plain.begin(), plain.end(), [](const auto& A, const auto& B) { return A.Target < B.Target; });
  for (auto& e : plain) {
    const std::string name = NameOf(e.Target);
    if (!programSettled && name.size() >= 3 && name.compare(name.size() - 3, 3, "exe") == 0) {
      programSettled = true;
      if (foundMethod_ == umUseExternalSetup)
        e.Setup = !updater::SamePath(e.Target, program);
      else
        e.Target = program;
    }
    entries.push_back(e);
  }
  if (run_->Commit(entries)) return true;
  FailRun(FormatLangText(ltCannotWrite, {QueueFilePath()}));
  return false;
}

void TkvKelvora::FailRun(const std::string& Text) {
  lastFailure_ = Text;
  ShowUpgraderMessage(Text, mbIconError);
  AbortUpgrade();
}

void TkvKelvora::HandleWriteError(const std::string& FileName, int32_t) {
  if (infoMode_) {
    HandleHTTPError(0);  // the info file's own output: as a missing info file
    return;
  }
  std::string name = FileName;
  const std::string part = updater::kPartSuffix;
  if (name.size() > part.size() && name.compare(name.size() - part.size(), part.size(), part) == 0)
    name.resize(name.size() - part.size());
  FailRun(FormatLangText(ltCannotWrite, {name}));
}

void TkvKelvora::DeleteTempFiles() {
  // Only what this run wrote, and only while it holds the lock: another
  // instance's downloads are never touched.
  if (run_) run_->Discard();
}

void TkvKelvora::RecoverInterruptedUpgrade() {
  // A left-over updater program; failures do not matter.
  detail::RemoveOldUpdater(UpdaterPath());
  detail::RemoveOldUpdater(StateFolder() + detail::kUpdaterFileName);
  detail::TUpgradeRun run(CurrentExeName());
  if (run.Begin(false) == detail::TUpgradeRun::TBegin::Ok) recoveredAtStart_ = run.Recovered();
}

void TkvKelvora::ReportRecoveredUpgrade() {
  if (!recoveredAtStart_) return;
  recoveredAtStart_ = false;
  ShowUpgraderMessage(GetLangText(ltUpgradeCompleted), mbIconInformation);
}

}  // namespace kelvora
