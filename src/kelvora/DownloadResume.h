// The resume of downloads across runs: which part files an earlier run left
// for this one (the state folder's resume record), whether a part may be
// continued, and the validator its range request is guarded with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "updater/ResumeRecord.h"

namespace kelvora::detail {

class TDownloadResume {
 public:
  explicit TDownloadResume(std::string StateFolder);

  // At the start of a run, with the files it will download (Validator
  // unused): the entries of exactly those files stay; every other part the
  // record names is removed, and so are entries whose part is gone.
  void KeepOnly(const std::vector<updater::TResumeEntry>& Wanted);
  // Where the download of Wanted may continue: the size of its part when
  // the record holds the same address, hash and size for it and the part is
  // a regular file of this user, not empty and shorter than the listed
  // size; its validator goes to Validator. 0 otherwise (the entry goes).
  int64_t From(const updater::TResumeEntry& Wanted, std::string& Validator);
  // Records (or replaces) the entry of E.Part; false when the record cannot
  // be written (the part is then not resumable).
  bool Note(const updater::TResumeEntry& E);
  void Forget(const std::string& Part);
  bool Has(const std::string& Part) const;
  // Nothing of this run is resumable any more (it is committed).
  void Clear();

  // The current file: whether its transfer asked to continue a part (a
  // range request), and whether it was already fetched again from the start
  // after that failed.
  bool Resumed = false, Retried = false;

 private:
  bool Save();
  std::string state_;
  std::vector<updater::TResumeEntry> entries_;
};

// The If-Range validator of an answer: its ETag when that is strong, else
// its Last-Modified date as sent when the server's Date is at least a
// second later (a date validator is strong only then); "" when neither.
// RawHeaders are the answer's header lines (CRLF).
std::string RangeValidator(const std::string& ETag, const std::string& RawHeaders, double Date, double LastModified);
// The size of the whole resource a partial answer gives in its
// Content-Range ("bytes 100-199/1000": 1000); -1 when it gives none ("*")
// or the header is missing or malformed.
int64_t RangeTotal(const std::string& RawHeaders);

}  // namespace kelvora::detail
