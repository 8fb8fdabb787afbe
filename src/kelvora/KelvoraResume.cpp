// Downloads continued across runs. A download with a listed hash that
// breaks (lost connection, cancel, the program closed or killed) leaves its
// part file together with an entry in the resume record: the address, the
// listed hash and size, and the server's validator. The next run of the
// same release continues the part with a range request guarded by
// If-Range, so a resource changed since is sent whole. The whole file is
// then checked as any other. Whatever goes wrong with the answer to the
// range request (a length or total other than listed, too many bytes, a
// wrong hash), the part is dropped and the file fetched once more from the
// start; nothing of a failed answer is ever installed.
#include <cerrno>

#include "kelvora/DeveloperLog.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/DownloadResume.h"
#include "kelvora/FileCalls.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/kvKelvora.h"
#include "ui/ProgressFigures.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

void TkvKelvora::SettleResumes() {
  d_->resume_ = std::make_shared<detail::TDownloadResume>(d_->run_->StateFolder());
  std::vector<updater::TResumeEntry> wanted;
  for (int i = 0; i < d_->fileList_.Count() && i < static_cast<int>(d_->targets_.size()); ++i) {
    const auto it = d_->expectedFiles_.find(d_->fileList_.GetName(i));
    if (it != d_->expectedFiles_.end())
      wanted.push_back({detail::PartNameOf(d_->targets_[i]), it->first, it->second.Sha256, it->second.Size, ""});
  }
  d_->resume_->KeepOnly(wanted);
}

int64_t TkvKelvora::ResumePoint(const std::string& Final) {
  d_->resumeValidator_.clear();
  if (!d_->resume_) return 0;
  updater::TResumeEntry wanted{detail::PartNameOf(Final), d_->fileList_.GetName(d_->fileIndex_), "", 0, ""};
  if (const auto it = d_->expectedFiles_.find(wanted.Address); it != d_->expectedFiles_.end()) {
    wanted.Sha256 = it->second.Sha256;
    wanted.Size = it->second.Size;
  }
  return d_->resume_->From(wanted, d_->resumeValidator_);
}

void TkvKelvora::ReadFrom(int64_t Position) {
  if (Position <= 0 || d_->resumeValidator_.empty()) {
    Read(false);
    return;
  }
  // The transfer takes its headers when it starts; the line is this
  // file's alone.
  const std::string header = "If-Range: " + d_->resumeValidator_;
  const bool added = RequestHeaders().IndexOf(header) < 0;
  if (added) RequestHeaders().Add(header);
  d_->resume_->Resumed = true;
  ReadRange(Position, 0, false);
  if (const int line = RequestHeaders().IndexOf(header); added && line >= 0) RequestHeaders().Delete(line);
}

void TkvKelvora::NoteResumable(bool ContinueDownload) {
  if (!d_->resume_ || !ContinueDownload || d_->fileIndex_ < 0 || static_cast<size_t>(d_->fileIndex_) >= d_->targets_.size()) return;
  const std::string part = detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]);
  // A patch is small and is not continued: its failure means the whole file.
  if (PatchActive()) return;
  const TExpectedFile* expected = CurrentExpectation();
  const std::string validator =
      expected != nullptr ? detail::RangeValidator(ETag(), RawHeaders(), Date(), LastModified()) : std::string();
  // Recorded before the first byte is written: whenever the download
  // breaks from now on, the part can be continued.
  if (validator.empty())
    d_->resume_->Forget(part);
  else
    d_->resume_->Note({part, d_->fileList_.GetName(d_->fileIndex_), expected->Sha256, expected->Size, validator});
}

bool TkvKelvora::RetryFromStart(const std::string& Reason) {
  // Only the answer to the range request itself: when the HTTP component
  // already went back to the start on its own, that was the one fresh fetch.
  if (!d_->resume_ || !d_->resume_->Resumed || d_->resume_->Retried || !RangeRequested() || d_->fileIndex_ < 0 ||
      static_cast<size_t>(d_->fileIndex_) >= d_->targets_.size())
    return false;
  const std::string part = detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]);
  DeveloperNote(Reason + "; the kept part is dropped and the file fetched again from the start");
  d_->resume_->Forget(part);
  d_->resume_->Resumed = false;
  d_->resume_->Retried = true;
  d_->pendingRefusal_.clear();
  ReleaseOutput();
  if (OpenPart(d_->targets_[static_cast<size_t>(d_->fileIndex_)], 0) < 0) {
    FailPart(part, errno);
    return true;
  }
  if (d_->progressMeter_) d_->progressMeter_->Restart();
  SetOutputFileName(part);
  ReleaseOutput();
  WatchTransfer();
  Read(false);
  return true;
}

void TkvKelvora::ForgetResume() {
  if (d_->resume_ && d_->fileIndex_ >= 0 && static_cast<size_t>(d_->fileIndex_) < d_->targets_.size())
    d_->resume_->Forget(detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]));
}

bool TkvKelvora::KeepsPartOnStop() const {
  return !d_->infoMode_ && d_->resume_ && d_->fileIndex_ >= 0 && static_cast<size_t>(d_->fileIndex_) < d_->targets_.size() &&
         d_->resume_->Has(detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]));
}

void TkvKelvora::EndResumes() {
  if (d_->resume_) d_->resume_->Clear();
}

void TkvKelvora::DropResumes() {
  detail::TUpgradeRun run(CurrentExeName());
  if (!updater::Exists(updater::ResumePath(run.StateFolder()))) return;
  // Only by the holder of the lock: a run elsewhere may be continuing them.
  if (run.Begin(false, false) != detail::TUpgradeRun::TBegin::Ok) return;
  detail::TDownloadResume(run.StateFolder()).KeepOnly({});
}

}  // namespace kelvora
