// Patches from the installed release: when the info file offers a patch for
// a listed file whose base is exactly the installed file, the patch is
// downloaded in place of the file, checked, and the file is built from the
// two into its part file, then checked against its own "#hash" like any
// download. Whatever goes wrong on that way (an error answer, a wrong patch,
// one that does not apply, a result that does not match, a write error)
// removes what it wrote and downloads the whole file instead, once.
#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include "framework/FileDescriptors.h"
#include "kelvora/Application.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/FileCalls.h"
#include "kelvora/PartFile.h"
#include "kelvora/PatchRound.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/delta/Patch.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/DownloadCheck.h"
#include "updater/TransactionFiles.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

using updater::NamePart;

// The SHA-256 of the file at Path in hex; empty when it cannot be read.
std::string FileSha256(const std::string& Path) {
  trust::TSha256 hash;
  if (!detail::ReadInChunks(Path, [&](const char* Data, std::size_t Size) {
        hash.Update(Data, Size);
        return true;
      }))
    return {};
  return hash.HexDigest();
}

// Builds the file Part from Base and the patch at Patch: Part is made anew
// with Attrs, and at most Size bytes are written, their SHA-256 taken as
// they go. Empty when the patch applied; otherwise why not.
std::string ApplyInto(const std::string& Base, const std::string& Patch, detail::TPartFile& Part,
                      TkvFileAttributes Attrs, int64_t Size, trust::TArrivalHash& Made) {
  // A new file of this run, never one planted under the name.
  if (!Part.Create(Attrs)) return Part.Refusal().empty() ? Part.Path() + ": " + std::strerror(errno) : Part.Refusal();
  const int fd = Part.Fd();
  int64_t at = 0;
  std::string writeError;
  std::string reason = delta::ApplyPatch(Base, Patch, Size, [&](const uint8_t* Data, size_t Count) {
    if (sys::WriteFile(fd, Data, Count) != static_cast<int64_t>(Count)) {
      writeError = Part.Path() + ": " + std::strerror(errno != 0 ? errno : ENOSPC);
      return false;
    }
    Made.Add(at, Data, Count);
    at += static_cast<int64_t>(Count);
    return true;
  });
  return writeError.empty() ? reason : writeError;
}

}  // namespace

std::string TkvKelvora::ReadOffers(const TReleaseInfo& Release, const std::vector<std::string>& Suffixes) {
  auto round = std::make_shared<detail::TPatchRound>();
  for (size_t i = 0; i < Suffixes.size() && static_cast<int>(i) < d_->fileList_.Count(); ++i) {
    const TPatchOffers* read = Release.PatchesOf(Suffixes[i]);
    if (read == nullptr) continue;
    if (!read->Error.empty()) return read->Error;
    const std::vector<delta::TPatchOffer>& offers = read->Offers;
    if (offers.empty()) continue;
    const std::string address = d_->fileList_.GetName(static_cast<int>(i));
    if (!d_->expectedFiles_.contains(address)) {
      // Nothing to check the built file against: it is downloaded whole.
      DeveloperNote(address + ": its patches are not used, the info file lists no #hash" + Suffixes[i]);
      continue;
    }
    auto& list = round->Offers[address];
    list.insert(list.end(), offers.begin(), offers.end());
  }
  d_->patch_ = std::move(round);
  return {};
}

bool TkvKelvora::PatchActive() const { return d_->patch_ && d_->patch_->Active; }

bool TkvKelvora::StartPatch(const std::string& Final) {
  if (!d_->patch_ || !d_->run_ || !delta::PatchesSupported() || d_->patch_->FellBack == d_->fileIndex_) return false;
  const std::string address = d_->fileList_.GetName(d_->fileIndex_);
  const auto offers = d_->patch_->Offers.find(address);
  const auto expected = d_->expectedFiles_.find(address);
  if (offers == d_->patch_->Offers.end() || expected == d_->expectedFiles_.end()) return false;
  // The base must be the installed file itself (a link is not followed).
  if (!updater::IsRegularFile(Final)) return false;
  // A file the same-size rule would skip stays skipped: decided on the
  // whole file's listed size, as without patches.
  if (d_->miscFilesUpgrade_ == mfuOnlyIfSizeDifferent && d_->fileList_.Count() > 1 &&
      utils::LowerCase(NamePart(Final)) != utils::LowerCase(NamePart(CurrentExeName())) &&
      FileSizeOf(Final) == expected->second.Size)
    return false;
  const std::string installed = FileSha256(Final);
  const delta::TPatchOffer* offer = nullptr;
  // A patch never costs more than the file itself.
  for (const auto& o : offers->second)
    if (!installed.empty() && o.BaseSha256 == installed && o.Size < expected->second.Size) {
      offer = &o;
      break;
    }
  if (offer == nullptr) return false;
  // Recorded before it exists, so that an abort or the next start removes it.
  const std::string file = Final + updater::kPatchSuffix;
  auto out = std::make_shared<detail::TPartFile>(file);
  if (!detail::AppendDurably(updater::StagingPath(d_->run_->StateFolder()), file + "\n") ||
      !out->Create(OutputFileAttributes().Incomplete())) {
    DeveloperNote(file + ": cannot be written (" + (out->Refusal().empty() ? std::strerror(errno) : out->Refusal()) +
                  "); the whole file is downloaded");
    return false;
  }
  d_->patch_->Active = true;
  d_->patch_->Offer = *offer;
  d_->patch_->File = file;
  d_->patch_->Output = out;
  d_->patchExpected_ = {offer->Sha256, offer->Size};
  if (UI().HasWizard())
    UI().WizardFile(offer->Address, FormatLangText(ltDownloadingCount, {d_->fileIndex_ + 1, d_->fileList_.Count()}));
  SetURL(offer->Address);
  SetOutputFileName(file);
  SetOutputOpener(out->Opener());
  ReleaseOutput();
  WatchTransfer();
  Read(false);
  return true;
}

bool TkvKelvora::BuildFromPatch(const std::string& Part) {
  const detail::TPatchRound& round = *d_->patch_;
  const std::string final = d_->targets_[static_cast<size_t>(d_->fileIndex_)];
  const TExpectedFile expected = d_->expectedFiles_.at(d_->fileList_.GetName(d_->fileIndex_));
  d_->serverFileTime_ = 0;  // the patch's date is not the file's
  std::string reason = std::move(d_->pendingRefusal_);
  d_->pendingRefusal_.clear();
  // The patch read is the file written, not whatever took its name since.
  if (reason.empty() && !(round.Output && round.Output->StillNamed()))
    reason = round.Output ? round.Output->Refusal() : round.File + ": not open";
  if (reason.empty())
    reason = trust::CheckDownload(round.File, trust::TFileHash{round.Offer.Sha256, round.Offer.Size}, d_->arrivalHash_.get());
  trust::TArrivalHash made;
  if (reason.empty() && !d_->output_) d_->output_ = std::make_shared<detail::TPartFile>(Part);
  if (reason.empty())
    reason = ApplyInto(final, round.File, *d_->output_, OutputFileAttributes().Incomplete(), expected.Size, made);
  // Also what catches an installed file changed since its hash was taken.
  if (reason.empty()) reason = trust::CheckDownload(Part, trust::TFileHash{expected.Sha256, expected.Size}, &made);
  if (!reason.empty()) {
    FallBackToWholeFile(reason);
    return false;
  }
  d_->patch_->Output.reset();
  updater::RemoveFile(round.File);
  d_->patch_->Active = false;
  d_->patchSavedBytes_ += std::max<int64_t>(0, expected.Size - round.Offer.Size);
  DeveloperNote(d_->fileList_.GetName(d_->fileIndex_) + ": built from the installed file and the patch " +
                round.Offer.Address + " (" + std::to_string(round.Offer.Size) + " bytes instead of " +
                std::to_string(expected.Size) + ")");
  std::weak_ptr<bool> alive = d_->engineAlive_;
  if (OnPatchApplied) OnPatchApplied(this, round.Offer.Address, round.Offer.Size, expected.Size);
  return !alive.expired();
}

void TkvKelvora::FallBackToWholeFile(const std::string& Reason) {
  DeveloperNote(d_->fileList_.GetName(d_->fileIndex_) + ": the patch " + d_->patch_->Offer.Address + " is not used (" + Reason +
                "); the whole file is downloaded");
  // The transfer lets go of the patch first (Windows removes no open file).
  ReleaseOutput();
  CloseOutputs();
  updater::RemoveFile(d_->patch_->File);
  if (static_cast<size_t>(d_->fileIndex_) < d_->targets_.size())
    updater::RemoveFile(detail::PartNameOf(d_->targets_[static_cast<size_t>(d_->fileIndex_)]));
  d_->patch_->Active = false;
  d_->patch_->FellBack = d_->fileIndex_;
  d_->patch_->Retry = true;
  // Started from the loop, once the patch's transfer has wound down; no
  // other check starts in between. A cancel meanwhile ends the run.
  ++d_->engaged_;
  std::weak_ptr<bool> alive = d_->engineAlive_;
  LoopBackend().Post([this, alive] {
    if (alive.expired()) return;
    --d_->engaged_;
    if (!d_->patch_ || !d_->patch_->Retry) return;
    if (d_->aborted_ || !d_->run_) {
      d_->patch_->Retry = false;
      return;
    }
    StartNextFile(false);
  });
}

bool TkvKelvora::EndPatchStep() {
  if (!d_->patch_) return false;
  if (d_->patch_->Active) {  // the patch's download was skipped: so is its file
    ReleaseOutput();
    CloseOutputs();
    updater::RemoveFile(d_->patch_->File);
    d_->patch_->Active = false;
  }
  const bool retry = d_->patch_->Retry;
  d_->patch_->Retry = false;
  return retry;
}

}  // namespace kelvora
