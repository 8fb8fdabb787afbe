#include "kelvora/ReleaseRecord.h"

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
  const std::string failed = "failed ";
  if (lines[1].compare(0, failed.size(), failed) == 0)
    return TReleaseRecord{lines[2], lines[3], false, lines[1].substr(failed.size())};
  if (lines[1] != "pending" && lines[1] != "confirmed") return std::nullopt;
  return TReleaseRecord{lines[2], lines[3], lines[1] == "confirmed", ""};
}

bool WriteReleaseRecord(const std::string& Path, const TReleaseRecord& Record) {
  // A line break inside a value would change the record's meaning.
  if (Record.InfoURL.find('\n') != std::string::npos || Record.Release.find('\n') != std::string::npos ||
      Record.FailedOn.find('\n') != std::string::npos)
    return false;
  detail::MakePrivateFolder(updater::FolderPart(Path));  // fails harmlessly when present
  if (!updater::StateFolderIsSafe(updater::FolderPart(Path))) return false;  // never through a planted link
  const std::string text = std::string(kMagic) + "\n" + (Record.Confirmed ? "confirmed" : Record.FailedOn.empty() ? "pending" : "failed " + Record.FailedOn) + "\n" +
                           Record.InfoURL + "\n" + Record.Release + "\n";
  return updater::WriteFileDurably(Path, text);
}

std::string ReleaseRecordPath() { return StateFolder() + "installed-release"; }

}  // namespace kelvora
