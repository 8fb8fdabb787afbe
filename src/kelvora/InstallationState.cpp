#include "kelvora/InstallationState.h"

#include <map>
#include <random>
#include <sstream>

#include "kelvora/FileCalls.h"
#include "updater/Transaction.h"
#include "updater/TransactionFiles.h"

namespace kelvora {

namespace {

constexpr const char* kIdFile = "installation-id";
constexpr const char* kSequenceFile = "sequences";
constexpr const char* kSequenceMagic = "kelvora-sequences 1";
constexpr size_t kMaxFileSize = 64 * 1024;
constexpr size_t kMaxAddresses = 64;

// A small regular file of the checked state folder; nullopt otherwise.
std::optional<std::string> ReadSmallFile(const std::string& Path) {
  std::string text;
  bool fits = true;
  if (!updater::StateFolderIsSafe(updater::FolderPart(Path)) || !updater::IsRegularFile(Path) ||
      !detail::ReadInChunks(Path,
                            [&](const char* Data, size_t Size) {
                              fits = text.size() + Size <= kMaxFileSize;
                              if (fits) text.append(Data, Size);
                              return fits;
                            }) ||
      !fits)
    return std::nullopt;
  return text;
}

bool IsId(const std::string& Text) {
  return Text.size() == 32 && Text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string NewId() {
  std::random_device random;
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 8; ++i) {
    const uint32_t word = random();
    for (int k = 0; k < 4; ++k) id += kHex[(word >> (4 * k)) & 15];
  }
  return id;
}

using TSequences = std::map<std::string, uint64_t>;

TSequences ReadSequences(const std::string& State) {
  TSequences out;
  const std::optional<std::string> text = ReadSmallFile(State + kSequenceFile);
  if (!text) return out;
  std::istringstream in(*text);
  std::string line;
  if (!std::getline(in, line) || line != kSequenceMagic) return out;
  while (std::getline(in, line)) {
    const size_t blank = line.find(' ');
    if (blank == 0 || blank == std::string::npos || blank > 19 ||
        line.find_first_not_of("0123456789") != blank)
      continue;
    out[line.substr(blank + 1)] = std::stoull(line.substr(0, blank));
  }
  return out;
}

}  // namespace

std::string InstallationId(const std::string& State) {
  const std::string path = State + kIdFile;
  if (const std::optional<std::string> text = ReadSmallFile(path)) {
    const std::string id = text->substr(0, text->find('\n'));
    if (IsId(id)) return id;
  }
  detail::MakePrivateFolder(State);  // fails harmlessly when present
  if (!updater::WriteFileDurably(path, NewId() + "\n")) return {};
  // Read back: another instance may have made its own at the same moment,
  // and the one kept is the one that counts.
  const std::optional<std::string> kept = ReadSmallFile(path);
  const std::string id = kept ? kept->substr(0, kept->find('\n')) : std::string();
  return IsId(id) ? id : std::string();
}

std::optional<uint64_t> HighestSequence(const std::string& State, const std::string& URL) {
  const TSequences all = ReadSequences(State);
  const auto it = all.find(URL);
  if (it == all.end()) return std::nullopt;
  return it->second;
}

bool KeepSequence(const std::string& State, const std::string& URL, uint64_t Sequence) {
  if (URL.find('\n') != std::string::npos) return false;
  TSequences all = ReadSequences(State);
  const auto it = all.find(URL);
  if (it != all.end() && it->second >= Sequence) return true;
  // A program checks one or two addresses; a bound keeps a host that
  // changes its address on every run from growing the file without end.
  if (it == all.end() && all.size() >= kMaxAddresses) all.erase(all.begin());
  all[URL] = Sequence;
  std::string text = std::string(kSequenceMagic) + "\n";
  for (const auto& [url, n] : all) text += std::to_string(n) + " " + url + "\n";
  detail::MakePrivateFolder(State);
  return updater::WriteFileDurably(State + kSequenceFile, text);
}

}  // namespace kelvora
