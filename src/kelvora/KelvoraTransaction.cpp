// The upgrade run as a transaction: the lock and the checks before anything
// downloads, the commit of the queue once every file is complete, the removal
// of the run's files when it fails, and the completion of an install that was
// cut short, at the next start.
#include <algorithm>
#include <set>

#include <cerrno>
#include <cstdlib>

#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/VersionDecision.h"
#include "platform/Process.h"
#include "kelvora/FileCalls.h"
#include "kelvora/StateFolder.h"
#include "kelvora/Streams.h"
#include "kelvora/UpdaterFile.h"
#include "kelvora/UpdaterProgram.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/WriteFailure.h"
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

// Path with "." and ".." steps and doubled or trailing separators taken out,
// by its text alone.
std::string LexicallyNormal(const std::string& Path) {
  std::vector<std::string> steps;
  std::string step, root;
  size_t i = 0;
  while (i < Path.size() && !updater::IsPathSeparator(Path[i])) root += Path[i++];  // "" or a drive "C:"
  for (; i <= Path.size(); ++i) {
    if (i < Path.size() && !updater::IsPathSeparator(Path[i])) {
      step += Path[i];
      continue;
    }
    if (step == "..") {
      if (!steps.empty()) steps.pop_back();
    } else if (!step.empty() && step != ".") {
      steps.push_back(step);
    }
    step.clear();
  }
  std::string out = root;
  for (const std::string& s : steps) out += updater::kPathSeparator + s;
  return out;
}

// Whether Path is Folder or lies below it (both normal, without a trailing
// separator).
bool IsWithin(const std::string& Path, const std::string& Folder) {
  return Path.size() >= Folder.size() && updater::SamePath(Path.substr(0, Folder.size()), Folder) &&
         (Path.size() == Folder.size() || updater::IsPathSeparator(Path[Folder.size()]));
}

// Whether a target would write into the state folder (or replace it), by
// its text or through a link on the way: its deepest existing folder is
// resolved, the rest of the path put after it.
bool TargetInState(const std::string& Final, const std::string& State) {
  if (IsWithin(LexicallyNormal(Final), LexicallyNormal(State))) return true;
  const std::string state = detail::ResolvedPath(State);
  if (state.empty()) return false;
  std::string folder = FolderOf(Final), rest = NameOf(Final), resolved;
  while (!folder.empty() && (resolved = detail::ResolvedPath(folder)).empty()) {
    std::string up = folder;
    while (!up.empty() && updater::IsPathSeparator(up.back())) up.pop_back();
    if (FolderOf(up).empty()) return false;
    rest = NameOf(up) + updater::kPathSeparator + rest;
    folder = FolderOf(up);
  }
  return !resolved.empty() &&
         IsWithin(LexicallyNormal(resolved + updater::kPathSeparator + rest), LexicallyNormal(state));
}

// What the user is told of a failed upgrade says what is on disk now: the
// previous version, a mix of both, or the previous files beside what a
// setup program changed.
TkvLangSlot FailureText(updater::TFailureOutcome Outcome) {
  switch (Outcome) {
    case updater::TFailureOutcome::Mixed: return ltUpgradeMixed;
    case updater::TFailureOutcome::SetupRan: return ltUpgradeSetupRan;
    case updater::TFailureOutcome::Kept: break;
  }
  return ltUpgradeFailed;
}

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

std::string TkvKelvora::ResolvedTarget(int Index) const {
  const std::string target = d_->fileList_.GetValue(Index);
  if (target.empty()) return CurrentFolder() + UrlToFileName(d_->fileList_.GetName(Index));
  // Info files written for other systems separate folders otherwise.
  std::string final = target;
  for (char& c : final)
    if (c == '\\' || c == '/') c = updater::kPathSeparator;
  final = ExpandFolderMacros(final, true);
  if (!HasSeparator(final)) final = CurrentFolder() + final;
  return final;
}

std::string TkvKelvora::ExistingFolderOf(const std::string& Path) {
  std::string folder = FolderOf(Path);
  while (!folder.empty() && !detail::IsFolder(folder)) {
    while (!folder.empty() && updater::IsPathSeparator(folder.back())) folder.pop_back();
    folder = FolderOf(folder);
  }
  return folder;
}

bool TkvKelvora::BeginRun() {
  if (d_->confirmRun_) {
    // This process still owes the confirmation of its own install.
    FailRun(GetLangText(ltUpgradeBusy));
    return false;
  }
  if (!d_->run_) d_->run_ = std::make_shared<detail::TUpgradeRun>(CurrentExeName());
  switch (d_->run_->Begin(true, false)) {
    case detail::TUpgradeRun::TBegin::Busy:
      FailRun(GetLangText(ltUpgradeBusy));
      return false;
    case detail::TUpgradeRun::TBegin::Unwritable:
      FailRun(CannotWriteText(CurrentFolder(), errno));
      return false;
    case detail::TUpgradeRun::TBegin::Untrusted:
      // A link or a folder someone else controls: nothing is done in it.
      FailRun(FormatLangText(ltCannotWrite, {d_->run_->StateFolder()}));
      return false;
    case detail::TUpgradeRun::TBegin::Ok:
      break;
  }
  if (d_->undoPending_ || updater::UndoTouches(d_->run_->StateFolder(), detail::HeldWhileRunning)) {
    // An install that only the next start of the program can undo comes
    // first.
    d_->run_->Release();
    FailRun(GetLangText(ltUpgradeBusy));
    return false;
  }
  d_->run_->Begin(true);  // settles what an interrupted run or install left
  // Every target resolved and its folder made and tried before the first
  // byte is downloaded.
  d_->targets_.clear();
  std::set<std::string> folders;
  for (int i = 0; i < d_->fileList_.Count(); ++i) {
    const std::string final = ResolvedTarget(i);
    if (!d_->fileList_.GetValue(i).empty()) d_->fileList_.SetValue(i, final);
    // The component's own records are never a download's target, whatever
    // the info file says.
    if (TargetInState(final, d_->run_->StateFolder())) {
      VerificationFailed(final + ": a target inside the folder of the upgrade's own records is refused");
      AbortUpgrade();
      return false;
    }
    if (updater::IsPathSeparator(final.back()) || detail::IsFolder(final)) {
      FailRun(FormatLangText(ltCannotWrite, {final}));  // a folder cannot be replaced by a file
      return false;
    }
    d_->targets_.push_back(final);
    const std::string folder = FolderOf(final);
    if (!folders.insert(folder).second) continue;
    ForceFolders(final);
    if (TargetInState(final, d_->run_->StateFolder())) {  // a link among the folders just made
      VerificationFailed(final + ": a target inside the folder of the upgrade's own records is refused");
      AbortUpgrade();
      return false;
    }
    if (!detail::CanWriteFolder(folder)) {
      FailRun(CannotWriteText(folder, errno));
      return false;
    }
  }
  SettleResumes();
  detail::NoteWhenProgramNotTargeted(d_->fileList_, d_->targets_, FoundMethod(), CurrentExeName(), d_->programTargetNoted_);
  d_->updaterFolder_ = detail::ChooseUpdaterFolder(d_->run_->StateFolder(), detail::UpdaterProgramBytes().size());
  if (d_->updaterFolder_.empty()) {
    FailRun(GetLangText(ltUpdaterFailed));
    return false;
  }
  return true;
}

bool TkvKelvora::CommitRun() {
  if (!d_->run_) return true;
  // Every complete download with the file it replaces. Files listed without
  // a target keep their own name in the program's folder, except that the
  // first program file among them (by name) is the program's new build (or,
  // for an external setup, the setup to run), unless the program's own file
  // is among them.
  std::vector<updater::TQueueEntry> entries, plain;
  const std::string program = CurrentExeName();
  // An entry of the program's own file (downloaded or skipped) settles it.
  bool programSettled = std::any_of(d_->targets_.begin(), d_->targets_.end(),
                                    [&](const std::string& T) { return updater::SamePath(T, program); });
  for (int i = 0; i < d_->fileList_.Count() && i < static_cast<int>(d_->targets_.size()); ++i) {
    const std::string download = detail::DownloadNameOf(d_->targets_[i]);
    if (!updater::Exists(download)) continue;  // skipped
    if (d_->fileList_.GetValue(i).empty()) {
      plain.push_back({download, d_->targets_[i], false});
    } else {
      entries.push_back({download, d_->targets_[i], false});
    }
  }
  std::sort(plain.begin(), plain.end(), [](const auto& A, const auto& B) { return A.Target < B.Target; });
  for (auto& e : plain) {
    const std::string name = NameOf(e.Target);
    if (!programSettled && name.size() >= 3 && name.compare(name.size() - 3, 3, "exe") == 0) {
      programSettled = true;
      if (d_->foundMethod_ == umUseExternalSetup)
        e.Setup = !updater::SamePath(e.Target, program);
      else
        e.Target = program;
    }
    entries.push_back(e);
  }
  // Whatever will be started must be a program of this system: a web page
  // answered with success (a captive portal) never becomes the program.
  for (const auto& e : entries) {
    if ((e.Setup || updater::SamePath(e.Target, program)) && !updater::LooksLikeProgram(e.Download)) {
      VerificationFailed(e.Target + ": the download is not a program for this system");
      AbortUpgrade();
      return false;
    }
  }
  EndResumes();  // every part is complete now
  if (d_->run_->Commit(entries, d_->confirmTimeout_)) return true;
  FailRun(FormatLangText(ltCannotWrite, {QueueFilePath()}));
  return false;
}

void TkvKelvora::FailRun(const std::string& Text) {
  d_->lastFailure_ = Text;
  ShowUpgraderMessage(Text, mbIconError);
  AbortUpgrade();
}

void TkvKelvora::HandleWriteError(const std::string& FileName, int32_t ErrorCode) {
  if (d_->infoMode_) {
    HandleHTTPError(0);  // the info file's own output: as a missing info file
    return;
  }
  if (PatchActive()) {  // the patch could not be written: the whole file may yet be
    FallBackToWholeFile(FileName + ": cannot be written");
    return;
  }
  std::string name = FileName;
  const std::string part = updater::kPartSuffix;
  if (name.size() > part.size() && name.compare(name.size() - part.size(), part.size(), part) == 0)
    name.resize(name.size() - part.size());
  FailRun(CannotWriteText(name, ErrorCode));
}

void TkvKelvora::DeleteTempFiles() {
  // Only what this run wrote, and only while it holds the lock: another
  // instance's downloads are never touched. The transfer's file is closed
  // first: on Windows an open file cannot be deleted.
  ReleaseOutput();
  CloseOutputs();
  if (d_->run_) d_->run_->Discard();
}

void TkvKelvora::RecoverInterruptedUpgrade() {
  detail::TUpgradeRun run(CurrentExeName());
  const auto begun = run.Begin(false, false);
  // A left-over updater program, unless an updater (waiting for this
  // program's confirmation) still runs; failures do not matter.
  if (begun != detail::TUpgradeRun::TBegin::Busy) RemoveOldUpdaters();
  if (begun != detail::TUpgradeRun::TBegin::Ok) return;  // an updater (or a run) is at work
  // An install waiting for its confirmation with no updater left: whether
  // this process is the release that owes it is known only at Loaded.
  d_->journalAtStart_ = updater::AwaitingConfirmation(run.StateFolder());
  if (!d_->journalAtStart_) run.Begin(false, true);
}

void TkvKelvora::ResolveUpgradeAtLoad() {
  if (!d_->journalAtStart_) return;
  d_->journalAtStart_ = false;
  auto run = std::make_shared<detail::TUpgradeRun>(CurrentExeName());
  if (run->Begin(false, false) != detail::TUpgradeRun::TBegin::Ok) return;
  if (!updater::AwaitingConfirmation(run->StateFolder())) return;
  if (StartedAfterUpgrade()) {
    // Started by an updater that is gone: this release confirms by itself
    // and then finishes the install, holding the lock until then.
    d_->confirmRun_ = run;
    return;
  }
  // An ordinary start finds an install nobody confirmed: it goes back.
  if (updater::UndoTouches(run->StateFolder(), detail::HeldWhileRunning)) {
    // This process runs files of the build to undo, which cannot be put
    // back from under it: the updater does the whole undo once this process
    // has ended, and starts the previous build.
    if (HandRecoveryToUpdater(run->LockFd())) std::_Exit(0);
    // Everything stays on record for the next start.
    d_->undoPending_ = true;
    return;
  }
  run->Begin(false, true);
  if (run->ProgramRestored()) {
    // This process is the release just undone: the previous one takes over.
    run->Release();
    if (platform::SpawnDetached({CurrentExeName()}) > 0) std::_Exit(0);
  }
}

void TkvKelvora::ReportFailedUpgrade() {
  // Read and removed by one holder of the lock, so the user is told once,
  // and only once the install is undone.
  if (d_->undoPending_) return;
  detail::TUpgradeRun run(CurrentExeName());
  if (run.Begin(false, false) != detail::TUpgradeRun::TBegin::Ok) return;
  const std::string state = run.StateFolder();
  std::optional<TReleaseRecord> record = ReadReleaseRecord(ReleaseRecordPath());
  const bool attempted = record && record->State == TReleaseState::Attempted;
  updater::TFailure failure;
  if (updater::Exists(updater::FailurePath(state))) {
    failure = updater::ReadFailure(state).value_or(
        updater::TFailure{CurrentExeName(), "the upgrade failed, and why could not be read"});
    updater::RemoveFile(updater::FailurePath(state));
    updater::SyncFolder(state);
  } else if (attempted && StartedAfterUpgrade()) {
    // Started by the updater: the release is in place, final unless a
    // confirmation is awaited (which then settles the record).
    if (!updater::AwaitingConfirmation(state))
      WriteReleaseRecord(ReleaseRecordPath(), {record->InfoURL, record->Release, TReleaseState::Confirmed, ""});
    return;
  } else if (attempted && d_->confirmTimeout_ > 0 && !updater::Exists(updater::JournalPath(state)) &&
             !updater::Exists(updater::QueuePath(state))) {
    // Handed over, and the updater is gone without a word of how it ended
    // (it could write nothing on a full disk, or was ended): the release did
    // not prove itself, and this start is the previous build.
    failure = {CurrentExeName(), "the upgrade ended without a record of its outcome (a full disk, or the upgrade "
                                 "program was ended)"};
  } else {
    return;
  }
  run.Release();
  // Whatever was recorded before, the release handed over is not in place:
  // it is installed again only on a person's answer.
  if (record && record->State != TReleaseState::Failed)
    WriteReleaseRecord(ReleaseRecordPath(),
                       {record->InfoURL, record->Release, TReleaseState::Failed, FormatEngineDate(TodayDate())});
  const std::string reason = failure.File + ": " + failure.Reason;
  std::weak_ptr<bool> alive = d_->engineAlive_;
  if (OnUpgradeFailed) OnUpgradeFailed(this, reason);
  if (!alive.expired() && Wants(mLostFile))
    ShowUpgraderMessage(FormatLangText(FailureText(failure.Outcome), {failure.File, failure.Reason}), mbIconError);
}

bool TkvKelvora::ConfirmUpgradeNow() {
  if (!StartedAfterUpgrade()) return false;
  const std::string state = StateFolder();
  if (!updater::AwaitingConfirmation(state)) return false;
  // One step decides between this confirmation and an undo: when the
  // updater (or a recovery) decided to undo first, this release is going.
  if (updater::Decide(state, updater::TDecision::Confirmed) != updater::TDecision::Confirmed) return false;
  // The release is in place from now on.
  if (auto record = ReadReleaseRecord(ReleaseRecordPath()); record && record->State != TReleaseState::Confirmed)
    WriteReleaseRecord(ReleaseRecordPath(), {record->InfoURL, record->Release, TReleaseState::Confirmed, ""});
  if (d_->confirmRun_) {
    // No updater waits: this process finishes the install itself.
    updater::FinishInstall(state);
    d_->confirmRun_.reset();
  }
  // The updater ends now; its file goes.
  RemoveOldUpdaters();
  return true;
}

void TkvKelvora::RemoveOldUpdaters() {
  // This program's own only: another program's updater may be waiting.
  detail::RemoveOldUpdater(UpdaterPath());
  if (updater::StateFolderIsSafe(StateFolder())) {  // never through a link planted at its name
    detail::RemoveOldUpdater(StateFolder() + detail::UpdaterFileName(CurrentExeName()));
    detail::RemoveOldUpdater(StateFolder() + detail::kSharedUpdaterFileName);  // an older build's, of this program
  }
}

bool TkvKelvora::RecordHandOver() {
  // What the next start needs goes to disk before the install can begin: an
  // attempt whose outcome is never written counts as failed.
  const std::optional<TReleaseRecord> before = ReadReleaseRecord(ReleaseRecordPath());
  d_->recordBefore_ = before ? std::make_shared<TReleaseRecord>(*before) : nullptr;
  d_->handOverRecorded_ = WriteReleaseRecord(
      ReleaseRecordPath(), {d_->infoFileURL_, d_->foundRelease_, TReleaseState::Attempted, FormatEngineDate(TodayDate())});
  return d_->handOverRecorded_;
}

void TkvKelvora::ForgetHandOver() {
  if (!d_->handOverRecorded_) return;
  d_->handOverRecorded_ = false;
  // Nothing was attempted after all.
  if (d_->recordBefore_)
    WriteReleaseRecord(ReleaseRecordPath(), *d_->recordBefore_);
  else
    updater::RemoveFile(ReleaseRecordPath());
}

bool TkvKelvora::NothingToInstall() const {
  return std::none_of(d_->targets_.begin(), d_->targets_.end(),
                      [](const std::string& T) { return updater::Exists(detail::DownloadNameOf(T)); });
}

}  // namespace kelvora
