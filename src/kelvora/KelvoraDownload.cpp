// The download sequence: one listed file after another through the single
// transfer slot, each written next to its target under a part name and
// renamed to its ".uTMP" name once complete.
#include <algorithm>
#include <cerrno>

#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/FileCalls.h"
#include "kelvora/PartFile.h"
#include "kelvora/PatchRound.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/kvKelvora.h"
#include "ui/ProgressFigures.h"
#include "updater/TransactionFiles.h"
#include "utils/TextUtils.h"

namespace kelvora {

using updater::NamePart;

void TkvKelvora::ShowWizard() {
  TkvWizardOptions options;
  options.HideFileLocation = d_->wizard_.HideFileLocation();
  options.StayOnTop = d_->wizard_.StayOnTop();
  options.PicturePath = d_->wizard_.Pic118x218();
  options.AppTitle = ProgramTitle();
  std::weak_ptr<bool> alive = d_->engineAlive_;
  std::shared_ptr<THandle> done = d_->doneSignal_;
  UI().ShowWizard(options, {[done] { SignalWait(*done); },
                            [this, alive] {
                              if (!alive.expired()) AbortUpgrade();
                            }});
}

void TkvKelvora::StartNextFile(bool First) {
  if (First) {
    SetInfoMode(false);
    d_->fileIndex_ = 0;
    if (!BeginRun()) return;
    if (d_->wizard_.Enabled()) ShowWizard();
  } else if (!EndPatchStep()) {  // (otherwise the same file again, whole, as its patch failed)
    // A skipped file leaves nothing: its part file, if any, was never filled.
    if (d_->run_ && static_cast<size_t>(d_->fileIndex_) < d_->targets_.size()) {
      ForgetResume();
      CloseOutputs();
      updater::RemoveFile(detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]));
    }
    ++d_->fileIndex_;
  }
  const int count = d_->fileList_.Count();
  if (d_->fileIndex_ < count && (!d_->run_ || static_cast<size_t>(d_->fileIndex_) >= d_->targets_.size())) {
    AbortUpgrade();  // not a run this component began (or its list changed under it)
    return;
  }
  if (d_->fileIndex_ < count) {
    const std::string address = d_->fileList_.GetName(d_->fileIndex_);
    if (UI().HasWizard())
      UI().WizardFile(address, FormatLangText(ltDownloadingCount, {d_->fileIndex_ + 1, count}));
    SetURL(address);
    if (d_->progressMeter_) d_->progressMeter_->Restart();
    const std::string& final = d_->targets_[static_cast<size_t>(d_->fileIndex_)];
    // Written under a part name; it gets the name the updater installs from
    // only once it is complete.
    d_->currentTarget_ = detail::DownloadNameOf(final);
    // A download under the same name is this run's only when an earlier
    // entry has the same target.
    const auto earlier = d_->targets_.begin() + d_->fileIndex_;
    const bool ours = std::find(d_->targets_.begin(), earlier, final) != earlier;
    // A part an earlier run of this release left is continued, else a new
    // one is made.
    int64_t resumeFrom = -1;
    if (!d_->run_->Stage(final) || (resumeFrom = OpenPart(final, ResumePoint(final))) < 0 ||
        (!ours && !detail::RemoveForeignDownload(d_->currentTarget_))) {
      FailPart(final, errno);
      return;
    }
    // A patch from the installed file, built into the part file; a part an
    // earlier run left is continued instead.
    if (resumeFrom == 0 && StartPatch(final)) return;
    SetOutputFileName(detail::PartNameOf(final));
    ReleaseOutput();
    WatchTransfer();
    ReadFrom(resumeFrom);
    return;
  }

  // Every file handled. Without a single download (each one lost or
  // skipped) there is nothing to install: no hand-over, no restart.
  if (NothingToInstall()) {
    AbortUpgrade();
    return;
  }
  if (UI().HasWizard() && !WaitForCompletionPage()) return;
  if (!CommitRun()) return;
  d_->finished_ = true;
  bool restartNow = true;
  std::weak_ptr<bool> alive = d_->engineAlive_;
  if (OnEndUpgrade) OnEndUpgrade(this, restartNow);
  if (alive.expired() || !restartNow) return;
  if (!RecordHandOver()) {
    // Nothing may be handed over that the next start could not account for.
    d_->finished_ = false;
    FailRun(FormatLangText(ltCannotWrite, {ReleaseRecordPath()}));
    return;
  }
  RestartApplication();
}

void TkvKelvora::HandleHeaderInfo(int64_t ContentLength, TDateTime LastModified, bool& ContinueDownload) {
  if (d_->infoMode_) {
    // An info file is a few lines of text: a body announced as megabytes is
    // refused before it is read into memory.
    if (ContentLength > kMaxInfoFileSize) {
      d_->infoOversized_ = true;
      ContinueDownload = false;
    }
    return;
  }
  d_->serverFileTime_ = LastModified;
  if (UI().HasWizard()) UI().WizardFileSize(ui::FileSizeText(ContentLength));
  if (d_->miscFilesUpgrade_ == mfuOnlyIfSizeDifferent && ContentLength != 0 && d_->fileList_.Count() > 1 && !PatchActive()) {
    const std::string final = d_->currentTarget_.substr(0, d_->currentTarget_.size() - 5);
    if (utils::LowerCase(NamePart(final)) != utils::LowerCase(NamePart(CurrentExeName())) &&
        detail::PathExists(final))
      ContinueDownload = ContentLength != FileSizeOf(final);
  }
  if (OnFileStart) OnFileStart(this, URL(), ContentLength, d_->serverFileTime_, ContinueDownload);
  // A part not asked for, or a length other than the listed one, is refused
  // before anything is written.
  if (ContinueDownload && !(PartialAnswerFits() && AnnouncedSizeFits(ContentLength))) ContinueDownload = false;
  NoteResumable(ContinueDownload);
}

int64_t TkvKelvora::OpenPart(const std::string& Final, int64_t ResumeFrom) {
  CloseOutputs();
  auto part = std::make_shared<detail::TPartFile>(detail::PartNameOf(Final));
  d_->output_ = part;
  int64_t from = 0;
  if (ResumeFrom > 0 && part->Continue() >= ResumeFrom) from = ResumeFrom;
  if (from == 0 && !part->Create(OutputFileAttributes().Incomplete())) return -1;
  // The transfer writes through the file made here, never by its name.
  SetOutputFileName(part->Path());
  SetOutputOpener(part->Opener());
  return from;
}

void TkvKelvora::FailPart(const std::string& FileName, int Error) {
  const std::string refusal = d_->output_ ? d_->output_->Refusal() : std::string();
  if (refusal.empty()) {
    HandleWriteError(FileName, Error);
    return;
  }
  // Somebody else's doing, told as such: never as a full disk.
  CloseOutputs();
  ForgetResume();
  VerificationFailed(refusal);
  AbortUpgrade();
}

void TkvKelvora::CloseOutputs() {
  SetOutputOpener(nullptr);
  d_->output_.reset();
  if (d_->patch_) d_->patch_->Output.reset();
}

uint8_t TkvKelvora::TotalPercents(int FileIndex, int Count, int PercentsDone) {
  if (Count <= 0) return static_cast<uint8_t>(PercentsDone);
  return static_cast<uint8_t>(PercentOf(Count, FileIndex) + PercentsDone / Count);
}

void TkvKelvora::HandleReadProgress(int64_t FileSize, int64_t BytesRead, int32_t ElapsedTime,
                                    int32_t EstimatedTimeLeft, uint8_t PercentsDone, float TransferRate) {
  if (d_->infoMode_) {
    // The same bound for a body that announced no length.
    if (BytesRead > kMaxInfoFileSize && !d_->infoOversized_) {
      d_->infoOversized_ = true;
      Abort(false, false);
    }
    return;
  }
  if (!ReceivedSizeFits(BytesRead)) return;  // more than listed: stopped at once
  const uint8_t total = TotalPercents(d_->fileIndex_, d_->fileList_.Count(), PercentsDone);
  if (OnProgress)
    OnProgress(this, URL(), FileSize, BytesRead, ElapsedTime, EstimatedTimeLeft, PercentsDone, total, TransferRate);
  if (UI().HasWizard()) {
    // The event keeps its figures; the user sees the rate of the body timed
    // to the millisecond, and no figure before it means something.
    if (!d_->progressMeter_) d_->progressMeter_ = std::make_shared<ui::TProgressMeter>();
    const auto shown = d_->progressMeter_->Sample(FileSize, BytesRead);
    UI().WizardProgress(PercentsDone, total, ui::TransferRateText(shown), ui::TimeLeftText(shown));
  }
}

void TkvKelvora::HandleDone(TStream* Data) {
  if (d_->infoMode_) {
    if (Data == nullptr || Data->Size() > kMaxInfoFileSize) {
      RejectOversizedInfoFile();
      return;
    }
    ParseInfoFile(*Data);
    return;
  }
  if (static_cast<size_t>(d_->fileIndex_) >= d_->targets_.size()) {
    AbortUpgrade();
    return;
  }
  const std::string final = d_->targets_[static_cast<size_t>(d_->fileIndex_)];
  const std::string part = detail::PartNameOf(final);
  // Nothing is checked or kept from a name that no longer holds the file
  // written (a link or another file planted there meanwhile).
  if (!PatchActive() && !(d_->output_ && d_->output_->StillNamed())) {
    FailPart(part, EPERM);
    return;
  }
  // Listed size and SHA-256, checked before the file gets the name the
  // updater installs from; a mismatch deletes it and aborts the upgrade.
  // A patch is checked, the file built from it and checked the same way.
  if (!(PatchActive() ? BuildFromPatch(part) : DownloadVerified(part))) return;
  // The file written is the file checked and the file that gets the name
  // the updater installs from.
  if (!d_->output_ || !d_->output_->CompleteAs(d_->currentTarget_, OutputFileAttributes().Complete(),
                                       d_->serverFileTime_ != 0 ? d_->serverFileTime_ : -1)) {
    FailPart(part, errno);
    return;
  }
  CloseOutputs();
  if (OnFileDone) OnFileDone(this, d_->currentTarget_);
  StartNextFile(false);
}

void TkvKelvora::HandleDownloadStopped() {
  if (d_->infoMode_) {
    RejectOversizedInfoFile();
    return;
  }
  if (!d_->pendingRefusal_.empty()) {
    RefuseDownload();
    return;
  }
  StartNextFile(false);
}

void TkvKelvora::HandleTransferAborted() {
  if (d_->infoMode_ && d_->infoOversized_) RejectOversizedInfoFile();
  if (!d_->infoMode_ && !d_->pendingRefusal_.empty()) RefuseDownload();
}

void TkvKelvora::RejectOversizedInfoFile() {
  // Whatever it is, it is not an info file this engine reads.
  d_->infoOversized_ = false;
  HandleHTTPError(0);
}

void TkvKelvora::HandleHTTPError(int32_t StatusCode) {
  if (d_->infoMode_) {
    SignalWait(*d_->doneSignal_);
    if (OnNoInfoFile) OnNoInfoFile(this);
    if (Wants(mNoInfoFile)) ShowUpgraderMessage(GetLangText(ltNoInfoFile), mbIconError);
    return;
  }
  if (PatchActive()) {  // the server has no such patch: the whole file instead
    FallBackToWholeFile("the server answers " + std::to_string(StatusCode));
    return;
  }
  bool cont = false;
  if (OnLostFile) OnLostFile(this, URL(), StatusCode, cont);
  if (Wants(mLostFile)) {
    cont = UI().MessageBox(FormatLangText(ltLostFile, {FileName()}),
                           GetLangText(ltError) + " #" + std::to_string(StatusCode),
                           mbYesNo | mbIconExclamation | mbSystemModal) == idYes;
  }
  if (cont)
    StartNextFile(false);
  else
    AbortUpgrade();
}

void TkvKelvora::HandleConnectionLost() {
  // A part (206) other than the one asked for is no lost connection: the
  // server answered, with something that is not the file.
  if (!d_->infoMode_ && RangeRefused() && d_->pendingRefusal_.empty())
    d_->pendingRefusal_ = URL() + ": the server answers with a part (206) other than the one asked for";
  if (!d_->infoMode_ && !d_->pendingRefusal_.empty()) {  // cut off by the size cap or refused, not lost
    RefuseDownload();
    return;
  }
  if (OnConnLost) OnConnLost(this);
  if (Wants(mConnLost)) ShowUpgraderMessage(GetLangText(ltConnLost), mbIconError);
  StopUpgrade();
  // Nothing of this run stays but a part the next run of the release may
  // continue (see KelvoraResume.cpp). The part file is closed first (the
  // event comes while the transfer still holds it, and Windows removes no
  // open file).
  ReleaseOutput();
  DeleteTempFiles();
}

void TkvKelvora::HandleNoConnection() {
  if (OnHostUnreachable) OnHostUnreachable(this, URL(), HostName());
  if (d_->autoCheckRunning_) {
    d_->autoCheckFired_ = false;
    RearmAutoCheckTimer();
  } else if (Wants(mHostUnreachable)) {
    ShowUpgraderMessage(FormatLangText(ltHostUnreachable, {"http://" + HostName()}), mbIconError);
  }
  StopUpgrade();
}

void TkvKelvora::HandlePasswordRequest(const std::string& Realm, bool& TryAgain) {
  if (OnPasswordRequest) OnPasswordRequest(this, Realm, TryAgain);
  if (!TryAgain && Wants(mPasswordRequest)) {
    std::string user = HTTPUsername(), pass;
    TryAgain = UI().AskPassword(FormatLangText(ltPasswordRequest, {FileName()}), user, pass);
    if (TryAgain) {
      SetHTTPUsername(user);
      SetHTTPPassword(pass);
    } else {
      AbortUpgrade();
    }
  }
}

void TkvKelvora::EndRunWithoutData() {
  // A transfer that completed without data: for the info file this is a
  // missing info file; for a listed file, a file that could not be fetched,
  // which the user may skip.
  // Either way the run ends or goes on, and a waiting check returns. A part
  // is continued only when shorter than the listed size: a server that calls
  // it complete (a 416 and a size probe) is wrong, and the file is fetched
  // once more from the start.
  if (!d_->infoMode_ &&
      RetryFromStart(URL() + ": the server calls the file complete at " + std::to_string(ResumePosition()) + " bytes"))
    return;
  HandleHTTPError(0);
}

void TkvKelvora::StopUpgrade() {
  SignalWait(*d_->doneSignal_);
  // A transfer still running may yet create its part file: it goes with the
  // abort, unless the next run may continue it.
  Abort(!d_->infoMode_ && !KeepsPartOnStop(), false);
  if (UI().HasWizard()) UI().DestroyWizard();
}

void TkvKelvora::AbortUpgrade() {
  d_->aborted_ = true;
  StopUpgrade();
  DeleteTempFiles();
  if (OnAborted) OnAborted(this);
}

}  // namespace kelvora
