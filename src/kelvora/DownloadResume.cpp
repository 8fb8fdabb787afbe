#include "kelvora/DownloadResume.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <strings.h>

#include "kelvora/FileCalls.h"
#include "updater/Transaction.h"
#include "updater/TransactionFiles.h"

namespace kelvora::detail {

namespace {

bool SameFile(const updater::TResumeEntry& A, const updater::TResumeEntry& B) {
  return A.Part == B.Part && A.Address == B.Address && A.Sha256 == B.Sha256 && A.Size == B.Size;
}

std::string Trimmed(const std::string& S) {
  const size_t b = S.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return S.substr(b, S.find_last_not_of(" \t") + 1 - b);
}

// The value of the header line Name in RawHeaders, as sent.
std::string HeaderValue(const std::string& RawHeaders, const std::string& Name) {
  size_t start = 0;
  while (start < RawHeaders.size()) {
    size_t end = RawHeaders.find('\n', start);
    if (end == std::string::npos) end = RawHeaders.size();
    std::string line = RawHeaders.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    const size_t colon = line.find(':');
    if (colon == Name.size() && strncasecmp(line.c_str(), Name.c_str(), Name.size()) == 0)
      return Trimmed(line.substr(colon + 1));
  }
  return {};
}

}  // namespace

TDownloadResume::TDownloadResume(std::string StateFolder)
    : state_(std::move(StateFolder)), entries_(updater::ReadResume(state_)) {}

void TDownloadResume::KeepOnly(const std::vector<updater::TResumeEntry>& Wanted) {
  std::vector<updater::TResumeEntry> kept;
  for (const auto& e : entries_) {
    const bool wanted = std::any_of(Wanted.begin(), Wanted.end(), [&](const auto& W) { return SameFile(e, W); });
    if (wanted && updater::IsRegularFile(e.Part)) {
      kept.push_back(e);
    } else if (updater::IsRegularFile(e.Part)) {
      updater::RemoveFile(e.Part);  // of a release no longer announced, or changed since
    }
  }
  if (kept.size() == entries_.size()) return;
  entries_ = std::move(kept);
  Save();
}

int64_t TDownloadResume::From(const updater::TResumeEntry& Wanted, std::string& Validator) {
  Resumed = Retried = false;
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& E) { return E.Part == Wanted.Part; });
  if (it == entries_.end()) return 0;
  const int64_t size = SameFile(*it, Wanted) ? ResumablePartSize(Wanted.Part) : -1;
  // A part as long as the file (or longer) has nothing to ask the server
  // for: it is fetched whole.
  if (size <= 0 || size >= Wanted.Size) {
    Forget(Wanted.Part);
    return 0;
  }
  Validator = it->Validator;
  return size;
}

bool TDownloadResume::Note(const updater::TResumeEntry& E) {
  if (!updater::ResumeEntryFits(E)) {
    Forget(E.Part);
    return false;
  }
  const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& X) { return X.Part == E.Part; });
  if (it != entries_.end()) {
    if (SameFile(*it, E) && it->Validator == E.Validator) return true;
    *it = E;
  } else {
    entries_.push_back(E);
  }
  if (Save()) return true;
  Forget(E.Part);
  return false;
}

void TDownloadResume::Forget(const std::string& Part) {
  const auto end = std::remove_if(entries_.begin(), entries_.end(), [&](const auto& E) { return E.Part == Part; });
  if (end == entries_.end()) return;
  entries_.erase(end, entries_.end());
  Save();
}

bool TDownloadResume::Has(const std::string& Part) const {
  return std::any_of(entries_.begin(), entries_.end(), [&](const auto& E) { return E.Part == Part; });
}

void TDownloadResume::Clear() {
  entries_.clear();
  Save();
}

bool TDownloadResume::Save() {
  if (updater::WriteResume(state_, entries_)) return true;
  // Whatever the record on disk says now, it must not keep a part this run
  // no longer stands for: without it, every part goes as before.
  const int err = errno;
  updater::RemoveFile(updater::ResumePath(state_));
  entries_.clear();
  errno = err;
  return false;
}

std::string RangeValidator(const std::string& ETag, const std::string& RawHeaders, double Date, double LastModified) {
  const std::string etag = Trimmed(ETag);
  if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') return etag;
  // A weak tag (W/"...") cannot guard a range: the date may.
  const std::string date = HeaderValue(RawHeaders, "Last-Modified");
  if (date.empty() || LastModified <= 0 || Date <= 0 || (Date - LastModified) * 86400.0 < 1.0) return {};
  return date;
}

int64_t RangeTotal(const std::string& RawHeaders) {
  const std::string range = HeaderValue(RawHeaders, "Content-Range");
  const size_t slash = range.rfind('/');
  if (slash == std::string::npos) return -1;
  int64_t total = -1;
  const char* end = range.data() + range.size();
  const auto [p, ec] = std::from_chars(range.data() + slash + 1, end, total);
  return ec == std::errc() && p == end && total >= 0 ? total : -1;
}

}  // namespace kelvora::detail
