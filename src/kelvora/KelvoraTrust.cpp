// The trust layer's part of the engine: the info file's signature and expiry
// before anything is acted on, and each download's size and SHA-256 before
// it counts as done.
#include <algorithm>
#include <ctime>

#include "kelvora/DownloadResume.h"
#include "kelvora/KelvoraData.h"
#include "kelvora/ReleaseInfo.h"
#include "kelvora/UpgradeRun.h"
#include "kelvora/kvKelvora.h"
#include "kelvora/trust/DownloadCheck.h"
#include "kelvora/trust/InfoTrust.h"
#include "updater/TransactionFiles.h"
#include "utils/TextUtils.h"

namespace kelvora {

std::string TkvKelvora::TrustInfoFile(const std::string& Text, const TReleaseInfo& Release) {
  d_->expectedFiles_.clear();
  d_->pendingRefusal_.clear();
  d_->patch_.reset();
  d_->patchSavedBytes_ = 0;
  const bool keyed = !utils::Trim(d_->publicKey_).empty();
  if (keyed) {
    const trust::TInfoVerdict verdict =
        trust::VerifyInfoFile(Release, Text, d_->publicKey_, static_cast<int64_t>(std::time(nullptr)));
    if (!verdict.Ok) {
      d_->fileList_.Clear();
      return verdict.Reason;
    }
  }
  if (!Release.Problem.empty()) {
    d_->fileList_.Clear();
    return Release.Problem;
  }
  std::vector<std::string> suffixes;
  FillFileList(Release, d_->fileList_, &suffixes);
  if (Release.UnreadFileKey) {
    d_->fileList_.Clear();
    return UnreadFileKeyReason(*Release.UnreadFileKey);
  }
  // A signed file must list a hash for every file it has downloaded; a
  // redirect's entry is a web page, not a file.
  std::vector<std::optional<trust::TFileHash>> hashes;
  std::string reason;
  if (static_cast<int>(suffixes.size()) != d_->fileList_.Count()) {
    // Cannot happen with the list's defaults; without hashes it does not matter.
    const bool anyHash = std::any_of(Release.Keys.begin(), Release.Keys.end(),
                                     [](const auto& Key) { return Key.first.starts_with("hash"); });
    if (!keyed && !anyHash) return {};
    d_->fileList_.Clear();
    return "the file list cannot be matched with its hashes";
  }
  // The entries the list took (a host's list may refuse more than the
  // parser's): their suffixes come in the parser's order.
  std::vector<TReleaseFile> taken;
  const std::vector<TReleaseFile>* files = &Release.Files;
  if (suffixes.size() != Release.Files.size()) {
    for (size_t i = 0, j = 0; i < Release.Files.size() && j < suffixes.size(); ++i)
      if (Release.Files[i].Suffix == suffixes[j]) {
        taken.push_back(Release.Files[i]);
        ++j;
      }
    files = &taken;
  }
  if (!trust::ReadFileHashes(*files, keyed && Release.Method != umRedirectToURL, hashes, reason)) {
    d_->fileList_.Clear();
    return reason;
  }
  for (int i = 0; i < d_->fileList_.Count(); ++i) {
    if (!hashes[i]) continue;
    const TExpectedFile expected{hashes[i]->Sha256, hashes[i]->Size};
    const auto [it, added] = d_->expectedFiles_.emplace(d_->fileList_.GetName(i), expected);
    if (!added && (it->second.Sha256 != expected.Sha256 || it->second.Size != expected.Size)) {
      d_->fileList_.Clear();
      return "two different hashes for " + it->first;
    }
  }
  if (std::string bad = ReadOffers(Release, suffixes); !bad.empty()) {
    d_->fileList_.Clear();
    return bad;
  }
  return {};
}

bool TkvKelvora::Keyed() const { return !utils::Trim(d_->publicKey_).empty(); }

bool TkvKelvora::MayRedirectTo(const std::string& Address) const {
  if (utils::Trim(d_->publicKey_).empty()) return true;
  const std::string lower = utils::LowerCase(Address);
  return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

const TkvKelvora::TExpectedFile* TkvKelvora::CurrentExpectation() const {
  // An error answer (a 404 page) is not the file: it ends as a lost file,
  // whatever its length.
  if (StatusCode() >= 300) return nullptr;
  if (d_->infoMode_ || d_->fileIndex_ < 0 || d_->fileIndex_ >= d_->fileList_.Count()) return nullptr;
  if (PatchActive()) return &d_->patchExpected_;
  const auto it = d_->expectedFiles_.find(d_->fileList_.GetName(d_->fileIndex_));
  return it == d_->expectedFiles_.end() ? nullptr : &it->second;
}

bool TkvKelvora::PartialAnswerFits() {
  if (StatusCode() != 206) return true;
  // A part is the file only as the rest of a part kept, asked for with its
  // range; to a request for the whole file it is a piece of unknown place.
  if (!RangeRequested()) {
    d_->pendingRefusal_ = URL() + ": the server sends a part (206) of a file asked for whole";
    return false;
  }
  // Where the part starts the HTTP component has checked; the whole it is
  // a part of must be the file listed.
  const TExpectedFile* expected = CurrentExpectation();
  const int64_t total = detail::RangeTotal(RawHeaders());
  if (expected == nullptr || total == expected->Size) return true;
  d_->pendingRefusal_ = URL() + ": the server gives the whole as " + (total < 0 ? "unknown" : std::to_string(total)) +
                    " bytes instead of " + std::to_string(expected->Size);
  return false;
}

bool TkvKelvora::AnnouncedSizeFits(int64_t ContentLength) {
  const TExpectedFile* expected = CurrentExpectation();
  // 0: the server announced no length; the transfer itself is watched.
  if (expected == nullptr || ContentLength == 0 || ContentLength == expected->Size) return true;
  d_->pendingRefusal_ = URL() + ": the server announces " + std::to_string(ContentLength) + " bytes instead of " +
                    std::to_string(expected->Size);
  return false;
}

bool TkvKelvora::ReceivedSizeFits(int64_t BytesRead) {
  const TExpectedFile* expected = CurrentExpectation();
  if (expected == nullptr || BytesRead <= expected->Size) return true;
  if (d_->pendingRefusal_.empty()) {
    d_->pendingRefusal_ = URL() + ": the server sends more than the " + std::to_string(expected->Size) + " bytes listed";
    Abort(true, false);  // the refusal follows when the transfer has stopped
  }
  return false;
}

void TkvKelvora::WatchTransfer() {
  // With a paced transfer the size limits still act at the block that
  // passes them: that block's progress event comes at once.
  if (d_->infoMode_) {
    SetProgressAlertSize(kMaxInfoFileSize);
    SetBodyObserver(nullptr);
    d_->arrivalHash_.reset();
    return;
  }
  const TExpectedFile* expected = CurrentExpectation();
  SetProgressAlertSize(expected != nullptr ? expected->Size : -1);
  // A listed hash is computed from the bytes as they are written, so the
  // file need not be read again once complete. Each transfer has its own.
  d_->arrivalHash_ = expected != nullptr ? std::make_shared<trust::TArrivalHash>() : nullptr;
  if (d_->arrivalHash_)
    SetBodyObserver([hash = d_->arrivalHash_](int64_t Position, const uint8_t* Data, size_t Size) {
      hash->Add(Position, Data, Size);
    });
  else
    SetBodyObserver(nullptr);
}

bool TkvKelvora::DownloadVerified(const std::string& Path) {
  if (d_->pendingRefusal_.empty()) {
    const TExpectedFile* expected = CurrentExpectation();
    if (expected == nullptr) return true;
    d_->pendingRefusal_ =
        trust::CheckDownload(Path, trust::TFileHash{expected->Sha256, expected->Size}, d_->arrivalHash_.get());
    if (d_->pendingRefusal_.empty()) return true;
  }
  RefuseDownload();
  return false;
}

void TkvKelvora::RefuseDownload() {
  const std::string reason = std::move(d_->pendingRefusal_);
  d_->pendingRefusal_.clear();
  if (PatchActive()) {  // a patch that is not the one listed: the whole file instead
    FallBackToWholeFile(reason);
    return;
  }
  // Whatever a continued download's answer was (a whole file of another
  // length, a part of another whole, too many bytes, a wrong hash): the part
  // goes, and the file is fetched once more from the start.
  if (RetryFromStart(reason)) return;
  // Whichever name the download has reached; the abort removes the rest of
  // the run's files.
  ForgetResume();
  if (!d_->currentTarget_.empty()) {
    updater::RemoveFile(d_->currentTarget_);
    updater::RemoveFile(detail::PartNameOf(d_->currentTarget_.substr(0, d_->currentTarget_.size() - 5)));
  }
  VerificationFailed(reason);
  AbortUpgrade();
}

void TkvKelvora::VerificationFailed(const std::string& Reason) {
  if (OnVerificationFailed) OnVerificationFailed(this, Reason);
  if (Wants(mLostFile)) ShowUpgraderMessage(GetLangText(ltVerificationFailed), mbIconError);
}

}  // namespace kelvora
