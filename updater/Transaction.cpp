#include "Transaction.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "FileMoves.h"
#include "TransactionFiles.h"

namespace kelvora::updater {

namespace {

constexpr const char* kQueueHeader = "kelvora-queue 1";
constexpr const char* kQueueEnd = "end";

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) end = Text.size();
    lines.push_back(Text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string StateFolderFor(const std::string& ProgramPath) {
  size_t slash = ProgramPath.size();
  while (slash > 0 && !IsPathSeparator(ProgramPath[slash - 1])) --slash;
  return ProgramPath.substr(0, slash) + "." + ProgramPath.substr(slash) + ".kelvora" + kPathSeparator;
}

std::string LockPath(const std::string& StateFolder) { return StateFolder + "lock"; }
std::string StagingPath(const std::string& StateFolder) { return StateFolder + "staging"; }
std::string QueuePath(const std::string& StateFolder) { return StateFolder + "queue"; }

bool FormatQueue(const std::vector<TQueueEntry>& Entries, std::string& Text) {
  Text = std::string(kQueueHeader) + "\n";
  for (const TQueueEntry& e : Entries) {
    for (const std::string* p : {&e.Download, &e.Target})
      if (!IsAbsolutePath(*p) || p->find_first_of("\t\r\n") != std::string::npos) return false;
    Text += e.Download + "\t" + e.Target + (e.Setup ? "\tsetup" : "") + "\n";
  }
  Text += std::string(kQueueEnd) + "\n";
  return true;
}

std::optional<std::vector<TQueueEntry>> ReadQueue(const std::string& Path) {
  std::string text;
  if (!ReadAll(Path, text)) return std::nullopt;
  const std::vector<std::string> lines = Lines(text);
  if (lines.size() < 2 || lines.front() != kQueueHeader || lines.back() != kQueueEnd) return std::nullopt;
  std::vector<TQueueEntry> entries;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& l = lines[i];
    const size_t tab = l.find('\t');
    if (tab == std::string::npos) return std::nullopt;
    TQueueEntry e;
    e.Download = l.substr(0, tab);
    e.Target = l.substr(tab + 1);
    const size_t flag = e.Target.find('\t');
    if (flag != std::string::npos) {
      e.Setup = e.Target.substr(flag + 1) == "setup";
      e.Target.resize(flag);
    }
    if (!IsAbsolutePath(e.Download) || !IsAbsolutePath(e.Target)) return std::nullopt;
    entries.push_back(std::move(e));
  }
  return entries;
}

TInstallResult Install(const std::vector<TQueueEntry>& Entries, const std::string& ProgramPath) {
  TInstallResult result;
  // The program itself last: until it is replaced, a start runs the old
  // build, which completes the install before anything else.
  std::vector<const TQueueEntry*> order;
  for (const auto& e : Entries)
    if (!SamePath(e.Target, ProgramPath)) order.push_back(&e);
  for (const auto& e : Entries)
    if (SamePath(e.Target, ProgramPath)) order.push_back(&e);
  std::set<std::string> folders;
  MaybeKillAfter(0);
  for (const TQueueEntry* e : order) {
    if (!Exists(e->Download)) continue;  // installed before an interruption
    const bool replacing = TakesOverMode(e->Target);
    const auto settle = [&](const std::string& Download) {
      if (e->Setup) {
        SetAttributes(Download, kAttrHidden | kAttrArchive);
        MakeExecutable(Download);
      } else {
        SetAttributes(Download, kAttrArchive);
        if ((!replacing && LooksLikeProgram(Download)) || SamePath(e->Target, ProgramPath)) MakeExecutable(Download);
      }
    };
    if (!MoveOver(e->Download, e->Target, settle)) {
      std::fprintf(stderr, "AppUpdate: could not move %s: %s\n", e->Download.c_str(), std::strerror(errno));
      ++result.Failed;
      continue;
    }
    MaybeKillAfter(result.Moved + 1);
    folders.insert(FolderPart(e->Target));
    ++result.Moved;
    if (e->Setup) result.SetupProgram = e->Target;
  }
  for (const std::string& f : folders) SyncFolder(f);
  return result;
}

void RemoveStaged(const std::string& StateFolder) {
  std::string text;
  const std::string record = StagingPath(StateFolder);
  if (!ReadAll(record, text)) return;
  bool left = false;
  for (const std::string& path : Lines(text)) {
    if (!IsAbsolutePath(path) || !(EndsWith(path, kDownloadSuffix) || EndsWith(path, kPartSuffix))) continue;
    if (IsRegularFile(path) && !RemoveFile(path)) left = true;
  }
  // A file that could not go yet (held open on Windows) keeps the record, so
  // the next holder of the lock removes it.
  if (left) return;
  RemoveFile(record);
  SyncFolder(StateFolder);
}

void CloseInstall(const std::string& StateFolder) {
  // Every download of the record has been renamed away: only the record goes.
  RemoveFile(StagingPath(StateFolder));
  RemoveFile(QueuePath(StateFolder));
  SyncFolder(StateFolder);
}

bool Recover(const std::string& StateFolder, const std::string& ProgramPath, TInstallResult* Result) {
  bool installed = false;
  if (auto queue = ReadQueue(QueuePath(StateFolder))) {
    TInstallResult r = Install(*queue, ProgramPath);
    if (Result != nullptr) *Result = r;
    CloseInstall(StateFolder);
    installed = true;
  } else {
    RemoveFile(QueuePath(StateFolder));  // never committed: not an install
  }
  RemoveStaged(StateFolder);
  return installed;
}

}  // namespace kelvora::updater
