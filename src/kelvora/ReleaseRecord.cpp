#include "kelvora/ReleaseRecord.h"

#include <cerrno>

#include "kelvora/FileCalls.h"
#include "kelvora/StateFolder.h"
#include "updater/Transaction.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

namespace {

constexpr const char* kMagic = "kelvora-release 1";
constexpr size_t kMaxRecordSize = 64 * 1024;

// Splits Text at '\n' into exactly Count lines (a last '\n' ends the final one).
bool SplitLines(const std::string& Text, size_t Count, std::string* Lines) {
  size_t start = 0;
  for (size_t i = 0; i < Count; ++i) {
    const size_t end = Text.find('\n', start);
    if (end == std::string::npos) return false;
    Lines[i] = Text.substr(start, end - start);
    start = end + 1;
  }
  return start == Text.size();
}

}  // namespace

std::optional<TReleaseRecord> ReadReleaseRecord(const std::string& Path) {
  // A regular file of bounded size only: the folder is private, but the
  // record is read at every start.
  std::string text;
  bool fits = true;
  if (!updater::StateFolderIsSafe(updater::FolderPart(Path)) || !updater::IsRegularFile(Path) || !detail::ReadInChunks(Path, [&](const char* Data, size_t Size) {
        fits = text.size() + Size <= kMaxRecordSize;
        if (fits) text.append(Data, Size);
        return fits;
      }) || !fits)
    return std::nullopt;
  std::string lines[4];
  if (!SplitLines(text, 4, lines) || lines[0] != kMagic) return std::nullopt;
  TReleaseRecord record{lines[2], lines[3], TReleaseState::Attempted, ""};
  const size_t blank = lines[1].find(' ');
  const std::string state = lines[1].substr(0, blank);
  if (blank != std::string::npos) record.Day = lines[1].substr(blank + 1);
  if (state == "confirmed" && blank == std::string::npos) {
    record.State = TReleaseState::Confirmed;
  } else if (state == "failed") {
    record.State = TReleaseState::Failed;
  } else if (state != "attempt" && !(state == "pending" && blank == std::string::npos)) {
    // ("pending": an older build's hand-over, an attempt of unknown day)
    return std::nullopt;
  }
  return record;
}

bool WriteReleaseRecord(const std::string& Path, const TReleaseRecord& Record) {
  // A line break inside a value would change the record's meaning.
  for (const std::string* v : {&Record.InfoURL, &Record.Release, &Record.Day})
    if (v->find('\n') != std::string::npos || (v == &Record.Day && v->find(' ') != std::string::npos)) {
      errno = EINVAL;
      return false;
    }
  detail::MakePrivateFolder(updater::FolderPart(Path));  // fails harmlessly when present
  const std::string day = Record.Day.empty() ? std::string() : " " + Record.Day;
  const std::string state = Record.State == TReleaseState::Confirmed ? "confirmed"
                            : Record.State == TReleaseState::Failed  ? "failed" + day
                                                                     : "attempt" + day;
  // Written through the checked state folder: refused when it is a link or
  // not the user's own.
  return updater::WriteFileDurably(Path, std::string(kMagic) + "\n" + state + "\n" + Record.InfoURL + "\n" +
                                             Record.Release + "\n");
}

std::string ReleaseRecordPath() { return StateFolder() + "installed-release"; }

}  // namespace kelvora
