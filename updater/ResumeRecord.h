// The state folder's "resume" record: the part files an unfinished run may
// leave for the next run of the same release to continue. Each entry names
// the part, the address it came from, the SHA-256 and size the info file
// lists for it, and the server's validator for "If-Range" (a strong ETag or
// a Last-Modified date). Written whole under another name and renamed in.
// A part it names is kept when the staging record is swept; a record that
// cannot be read protects nothing.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace kelvora::updater {

struct TResumeEntry {
  std::string Part, Address, Sha256;
  int64_t Size = 0;
  std::string Validator;
};

// Whether E can be recorded: an absolute part name, a listed hash and size,
// and an address and validator of printable characters (no tab, no line
// break), the validator at most 256 bytes.
bool ResumeEntryFits(const TResumeEntry& E);
std::string ResumePath(const std::string& StateFolder);
// The well-formed entries; none when the record is missing, too large or
// not this format.
std::vector<TResumeEntry> ReadResume(const std::string& StateFolder);
// Replaces the record (removes it when Entries is empty); false (with errno)
// when it cannot be written. Entries that could not be read back are
// refused (false, EINVAL).
bool WriteResume(const std::string& StateFolder, const std::vector<TResumeEntry>& Entries);
// The part paths the record names.
std::set<std::string> ResumableParts(const std::string& StateFolder);

}  // namespace kelvora::updater
