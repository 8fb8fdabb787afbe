#include "ResumeRecord.h"

#include <cerrno>

#include "Transaction.h"
#include "TransactionFiles.h"

namespace kelvora::updater {

namespace {

constexpr const char* kResumeHeader = "kelvora-resume 1";
constexpr size_t kMaxResumeRecord = 1 << 20;
constexpr size_t kMaxValidator = 256;

bool Printable(const std::string& S) {
  for (unsigned char c : S)
    if (c < 0x20 || c == 0x7f) return false;
  return true;
}

bool IsHex64(const std::string& S) {
  return S.size() == 64 && S.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

bool ResumeEntryFits(const TResumeEntry& E) {
  const std::string part = kPartSuffix;
  return IsAbsolutePath(E.Part) && E.Part.size() > part.size() &&
         E.Part.compare(E.Part.size() - part.size(), part.size(), part) == 0 && Printable(E.Part) &&
         !E.Address.empty() && Printable(E.Address) && IsHex64(E.Sha256) && E.Size > 0 && !E.Validator.empty() &&
         E.Validator.size() <= kMaxValidator && Printable(E.Validator);
}

namespace {

// Splits Line at tabs into exactly N fields.
bool Fields(const std::string& Line, size_t N, std::vector<std::string>& Out) {
  Out.clear();
  size_t start = 0;
  for (;;) {
    const size_t tab = Line.find('\t', start);
    Out.push_back(Line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return Out.size() == N;
}

}  // namespace

std::string ResumePath(const std::string& StateFolder) { return StateFolder + "resume"; }

std::vector<TResumeEntry> ReadResume(const std::string& StateFolder) {
  std::vector<TResumeEntry> entries;
  std::string text;
  if (!IsRegularFile(ResumePath(StateFolder)) || !ReadAll(ResumePath(StateFolder), text) ||
      text.size() > kMaxResumeRecord)
    return entries;
  size_t start = 0;
  bool first = true;
  std::vector<std::string> f;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line cut short is not an entry
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kResumeHeader) return {};
      first = false;
      continue;
    }
    if (!Fields(line, 5, f) || f[3].empty() || f[3].size() > 18 ||
        f[3].find_first_not_of("0123456789") != std::string::npos)
      continue;
    TResumeEntry e{f[0], f[1], f[2], std::stoll(f[3]), f[4]};
    if (ResumeEntryFits(e)) entries.push_back(std::move(e));
  }
  return entries;
}

bool WriteResume(const std::string& StateFolder, const std::vector<TResumeEntry>& Entries) {
  if (Entries.empty()) {
    const bool ok = RemoveFile(ResumePath(StateFolder)) || errno == ENOENT;
    SyncFolder(StateFolder);
    return ok;
  }
  std::string text = std::string(kResumeHeader) + "\n";
  for (const TResumeEntry& e : Entries) {
    if (!ResumeEntryFits(e)) {
      errno = EINVAL;
      return false;
    }
    text += e.Part + "\t" + e.Address + "\t" + e.Sha256 + "\t" + std::to_string(e.Size) + "\t" + e.Validator + "\n";
  }
  return WriteFileDurably(ResumePath(StateFolder), text);
}

std::set<std::string> ResumableParts(const std::string& StateFolder) {
  std::set<std::string> parts;
  for (const TResumeEntry& e : ReadResume(StateFolder)) parts.insert(e.Part);
  return parts;
}

}  // namespace kelvora::updater
