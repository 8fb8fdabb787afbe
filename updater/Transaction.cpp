#include "Transaction.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>

#include "FileMoves.h"
#include "ResumeRecord.h"
#include "LoginUndo.h"
#include "TransactionFiles.h"

namespace kelvora::updater {

namespace {

constexpr const char* kQueueHeader = "kelvora-queue 1";
constexpr const char* kQueueEnd = "end";
constexpr const char* kJournalHeader = "kelvora-journal 1";
constexpr const char* kFailureHeader = "kelvora-failed 1";
constexpr const char* kConfirmedText = "kelvora-confirmed 1\n";
constexpr const char* kUndoText = "kelvora-undo 1\n";
constexpr size_t kMaxRecordSize = 1 << 20;

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
std::string JournalPath(const std::string& StateFolder) { return StateFolder + "journal"; }
std::string ConfirmPath(const std::string& StateFolder) { return StateFolder + kConfirmName; }
std::string FailurePath(const std::string& StateFolder) { return StateFolder + "failed"; }

bool FormatQueue(const std::vector<TQueueEntry>& Entries, std::string& Text, int ConfirmSeconds) {
  if (ConfirmSeconds != 0 && (ConfirmSeconds < kMinConfirmSeconds || ConfirmSeconds > kMaxConfirmSeconds)) return false;
  Text = std::string(kQueueHeader) + "\n";
  if (ConfirmSeconds > 0) Text += "confirm\t" + std::to_string(ConfirmSeconds) + "\n";
  for (const TQueueEntry& e : Entries) {
    for (const std::string* p : {&e.Download, &e.Target})
      if (!IsAbsolutePath(*p) || p->find_first_of("\t\r\n") != std::string::npos) return false;
    Text += e.Download + "\t" + e.Target + (e.Setup ? "\tsetup" : "") + "\n";
  }
  Text += std::string(kQueueEnd) + "\n";
  return true;
}

TQueue ReadQueueFile(const std::string& Path) {
  TQueue q;
  std::string text;
  if (!ReadAll(Path, text)) {
    if (errno == ENOENT) return q;
    q.State = TQueueState::Unreadable;
    q.Problem = std::string("it cannot be read: ") + std::strerror(errno);
    return q;
  }
  const auto bad = [&q](const std::string& Why) {
    q.State = TQueueState::Unreadable;
    q.Problem = Why;
    q.Entries.clear();
    q.ConfirmSeconds = 0;
    return q;
  };
  const std::vector<std::string> lines = Lines(text);
  if (lines.empty() || lines.back() != kQueueEnd) {
    q.State = TQueueState::Uncommitted;
    return q;
  }
  if (text.size() > kMaxRecordSize || lines.size() < 2 || lines.front() != kQueueHeader)
    return bad("it is not an upgrade record of this version");
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& l = lines[i];
    const size_t tab = l.find('\t');
    if (tab == std::string::npos) return bad("line " + std::to_string(i + 1) + " is not a file entry");
    if (i == 1 && l.compare(0, tab, "confirm") == 0) {
      const std::string value = l.substr(tab + 1);
      const bool digits = !value.empty() && value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos;
      const int seconds = digits ? std::stoi(value) : 0;
      if (seconds < kMinConfirmSeconds || seconds > kMaxConfirmSeconds)
        return bad("its confirmation time \"" + value.substr(0, 20) + "\" is not between " +
                   std::to_string(kMinConfirmSeconds) + " and " + std::to_string(kMaxConfirmSeconds) + " seconds");
      q.ConfirmSeconds = seconds;
      continue;
    }
    TQueueEntry e;
    e.Download = l.substr(0, tab);
    e.Target = l.substr(tab + 1);
    const size_t flag = e.Target.find('\t');
    if (flag != std::string::npos) {
      if (e.Target.substr(flag + 1) != "setup") return bad("line " + std::to_string(i + 1) + " has an unknown mark");
      e.Setup = true;
      e.Target.resize(flag);
    }
    if (!IsAbsolutePath(e.Download) || !IsAbsolutePath(e.Target))
      return bad("line " + std::to_string(i + 1) + " does not name full paths");
    q.Entries.push_back(std::move(e));
  }
  q.State = TQueueState::Committed;
  return q;
}

std::optional<std::vector<TQueueEntry>> ReadQueue(const std::string& Path, int* ConfirmSeconds) {
  TQueue q = ReadQueueFile(Path);
  if (q.State != TQueueState::Committed) return std::nullopt;
  if (ConfirmSeconds != nullptr) *ConfirmSeconds = q.ConfirmSeconds;
  return std::move(q.Entries);
}

TDecision ReadDecision(const std::string& StateFolder) {
  std::string text;
  if (!ReadAll(ConfirmPath(StateFolder), text)) return errno == ENOENT ? TDecision::None : TDecision::Undo;
  // Anything but an undo is a confirmation (earlier releases wrote other
  // texts); a record that cannot be read keeps the previous version.
  return text == kUndoText ? TDecision::Undo : TDecision::Confirmed;
}

TDecision Decide(const std::string& StateFolder, TDecision Want) {
  if (Want == TDecision::None) return ReadDecision(StateFolder);
  if (CreateFileDurably(ConfirmPath(StateFolder), Want == TDecision::Undo ? kUndoText : kConfirmedText)) return Want;
  return errno == EEXIST ? ReadDecision(StateFolder) : TDecision::None;
}

namespace {

// One undo step of the journal: a replaced file and its backup, or a new
// file (Backup empty).
struct TUndo {
  std::string Target, Backup;
};

// The journal's complete lines; a line cut short by a crash was written
// before its move, which therefore never happened.
std::vector<TUndo> ReadJournal(const std::string& StateFolder) {
  std::vector<TUndo> steps;
  std::string text;
  if (!ReadAll(JournalPath(StateFolder), text) || text.size() > kMaxRecordSize) return steps;
  if (!text.empty() && text.back() != '\n') text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  for (const std::string& l : Lines(text)) {
    const size_t tab = l.find('\t');
    if (tab == std::string::npos) continue;
    const std::string kind = l.substr(0, tab), rest = l.substr(tab + 1);
    if (kind == "new" && IsAbsolutePath(rest)) {
      steps.push_back({rest, ""});
    } else if (kind == "backup") {
      const size_t second = rest.find('\t');
      if (second == std::string::npos) continue;
      TUndo u{rest.substr(0, second), rest.substr(second + 1)};
      if (IsAbsolutePath(u.Target) && u.Backup == u.Target + kBackupSuffix) steps.push_back(u);
    }
  }
  return steps;
}

std::string ErrorText(int Err) { return Err == 0 ? std::string("unknown error") : std::strerror(Err); }

}  // namespace

TInstallResult Install(const std::string& StateFolder, const std::vector<TQueueEntry>& Entries,
                       const std::string& ProgramPath) {
  TInstallResult result;
  // The program itself last: until it is replaced, a start runs the old
  // build.
  std::vector<const TQueueEntry*> order;
  for (const auto& e : Entries)
    if (!SamePath(e.Target, ProgramPath)) order.push_back(&e);
  for (const auto& e : Entries)
    if (SamePath(e.Target, ProgramPath)) order.push_back(&e);
  std::set<std::string> folders;
  const std::string journal = JournalPath(StateFolder);
  // From here on the install counts as begun: whatever happens, it is
  // finished or undone.
  if (!AppendRecord(journal, std::string(kJournalHeader) + "\n")) {
    result.Failed = 1;
    result.FailedFile = journal;
    result.Reason = ErrorText(errno);
    return result;
  }
  SyncFolder(StateFolder);
  MaybeKillAfter(0);
  const auto fail = [&](const std::string& File, int Err) {
    std::fprintf(stderr, "AppUpdate: could not move %s over %s: %s\n", (File + kDownloadSuffix).c_str(), File.c_str(),
                 ErrorText(Err).c_str());
    result.Failed = 1;
    result.FailedFile = File;
    result.Reason = ErrorText(Err);
  };
  int move = 0;
  for (const TQueueEntry* e : order) {
    if (!Exists(e->Download)) continue;  // skipped by the run
    ++move;
    if (IsDirectory(e->Target)) {
      fail(e->Target, EISDIR);  // a folder is never replaced by a file
      break;
    }
    const bool existed = Exists(e->Target);
    const std::string backup = existed ? e->Target + kBackupSuffix : std::string();
    if (existed) RemoveFile(backup);  // a stale one of an earlier crash
    if (!AppendRecord(journal, existed ? "backup\t" + e->Target + "\t" + backup + "\n" : "new\t" + e->Target + "\n")) {
      fail(e->Target, errno);
      break;
    }
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
    if (InjectedFailure(move)) {
      fail(e->Target, EIO);
      break;
    }
    if (!MoveOver(e->Download, e->Target, settle, backup)) {
      fail(e->Target, errno);
      break;
    }
    folders.insert(FolderPart(e->Target));
    ++result.Moved;
    MaybeKillAfter(result.Moved);
  }
  for (const std::string& f : folders) SyncFolder(f);
  // The setup program of the queue, wherever it lies now.
  if (result.Failed == 0)
    for (const auto& e : Entries)
      if (e.Setup && IsRegularFile(e.Target)) result.SetupProgram = e.Target;
  return result;
}

bool RollBack(const std::string& StateFolder, const std::string& ProgramPath, bool* ProgramRestored,
              TUndoProblem* Problem) {
  const std::vector<TUndo> steps = ReadJournal(StateFolder);
  bool complete = true, restored = false;
  std::set<std::string> folders;
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    if (!it->Backup.empty()) {
      if (!Exists(it->Backup)) continue;  // never moved, or already put back
      if (!RenameOver(it->Backup, it->Target)) {
        const int err = errno;
        std::fprintf(stderr, "AppUpdate: could not put back %s: %s\n", it->Target.c_str(), ErrorText(err).c_str());
        if (complete && Problem != nullptr) *Problem = {it->Target, ErrorText(err)};
        complete = false;
        continue;
      }
      // Killed between the backup's second name and the move, both names
      // are the same file: a rename between them changes nothing.
      if (Exists(it->Backup)) RemoveFile(it->Backup);
      restored = restored || SamePath(it->Target, ProgramPath);
    } else if (IsRegularFile(it->Target) && !Exists(it->Target + kDownloadSuffix)) {
      // Moved in (its download is gone): a file of this install.
      if (!RemoveFile(it->Target) && errno != ENOENT) {
        const int err = errno;
        std::fprintf(stderr, "AppUpdate: could not remove %s: %s\n", it->Target.c_str(), ErrorText(err).c_str());
        if (complete && Problem != nullptr) *Problem = {it->Target, ErrorText(err)};
        complete = false;
        continue;
      }
    }
    folders.insert(FolderPart(it->Target));
    MaybeKillIn("rollback");
  }
  for (const std::string& f : folders) SyncFolder(f);
  if (ProgramRestored != nullptr) *ProgramRestored = restored;
  if (!complete) return false;
  DiscardQueue(StateFolder);
  RemoveFile(JournalPath(StateFolder));
  SyncFolder(StateFolder);
  RemoveFile(ConfirmPath(StateFolder));  // the decision goes after the journal
  SyncFolder(StateFolder);
  RemoveUndoAtLogin(StateFolder);  // settled: nothing left for a login to undo
  return true;
}

void FinishInstall(const std::string& StateFolder) {
  for (const TUndo& u : ReadJournal(StateFolder))
    if (!u.Backup.empty() && IsRegularFile(u.Backup)) RemoveFile(u.Backup);
  RemoveFile(JournalPath(StateFolder));
  RemoveFile(StagingPath(StateFolder));
  RemoveFile(ResumePath(StateFolder));
  RemoveFile(QueuePath(StateFolder));
  SyncFolder(StateFolder);
  RemoveFile(ConfirmPath(StateFolder));
  SyncFolder(StateFolder);
  RemoveUndoAtLogin(StateFolder);
}

namespace {
const char* const kOutcomeNames[] = {"kept", "mixed", "setup"};
}

void WriteFailure(const std::string& StateFolder, const std::string& File, const std::string& Reason,
                  TFailureOutcome Outcome, bool Replace) {
  if (!Replace && Exists(FailurePath(StateFolder))) return;
  std::string file = File, reason = Reason;
  for (std::string* s : {&file, &reason})
    for (char& c : *s)
      if (c == '\n' || c == '\r') c = ' ';
  // The previous version in place is what a record of three lines means.
  const std::string outcome =
      Outcome == TFailureOutcome::Kept ? "" : std::string(kOutcomeNames[static_cast<int>(Outcome)]) + "\n";
  WriteFileDurably(FailurePath(StateFolder), std::string(kFailureHeader) + "\n" + file + "\n" + reason + "\n" + outcome);
}

std::optional<TFailure> ReadFailure(const std::string& StateFolder) {
  std::string text;
  if (!IsRegularFile(FailurePath(StateFolder)) || !ReadAll(FailurePath(StateFolder), text) ||
      text.size() > kMaxRecordSize)
    return std::nullopt;
  const std::vector<std::string> lines = Lines(text);
  if ((lines.size() != 3 && lines.size() != 4) || lines[0] != kFailureHeader) return std::nullopt;
  TFailure failure{lines[1], lines[2]};
  if (lines.size() == 4) {
    const auto* name = std::find(std::begin(kOutcomeNames), std::end(kOutcomeNames), lines[3]);
    if (name == std::end(kOutcomeNames)) return std::nullopt;
    failure.Outcome = static_cast<TFailureOutcome>(name - std::begin(kOutcomeNames));
  }
  return failure;
}

void RemoveStaged(const std::string& StateFolder) {
  std::string text;
  const std::string record = StagingPath(StateFolder);
  if (!ReadAll(record, text)) return;
  // A part the resume record names stays for the next run of its release,
  // and so does its line.
  const std::set<std::string> resumable = ResumableParts(StateFolder);
  std::set<std::string> kept;
  bool left = false;
  for (const std::string& path : Lines(text)) {
    if (!IsAbsolutePath(path) ||
        !(EndsWith(path, kDownloadSuffix) || EndsWith(path, kPartSuffix) || EndsWith(path, kPatchSuffix)))
      continue;
    if (resumable.count(path) != 0 && IsRegularFile(path)) {
      kept.insert(path);
      continue;
    }
    if (IsRegularFile(path) && !RemoveFile(path)) left = true;
  }
  // A file that could not go yet (held open on Windows) keeps the record, so
  // the next holder of the lock removes it.
  if (left) return;
  if (!kept.empty()) {
    std::string lines;
    for (const std::string& path : kept) lines += path + "\n";
    if (text != lines) WriteFileDurably(record, lines);
    return;
  }
  RemoveFile(record);
  SyncFolder(StateFolder);
}

void DiscardQueue(const std::string& StateFolder) {
  if (auto queue = ReadQueue(QueuePath(StateFolder)))
    for (const TQueueEntry& e : *queue)
      if (EndsWith(e.Download, kDownloadSuffix) && IsRegularFile(e.Download)) RemoveFile(e.Download);
  RemoveStaged(StateFolder);
  RemoveFile(QueuePath(StateFolder));
  SyncFolder(StateFolder);
}

bool AwaitingConfirmation(const std::string& StateFolder) {
  return Exists(JournalPath(StateFolder)) && ReadDecision(StateFolder) != TDecision::Confirmed;
}

bool UndoTouches(const std::string& StateFolder, const std::function<bool(const std::string&)>& Held) {
  if (!AwaitingConfirmation(StateFolder)) return false;
  for (const TUndo& u : ReadJournal(StateFolder)) {
    if (!Held(u.Target)) continue;
    // The same tests RollBack makes before it acts.
    if (u.Backup.empty() ? IsRegularFile(u.Target) && !Exists(u.Target + kDownloadSuffix) : Exists(u.Backup))
      return true;
  }
  return false;
}

TRecovered ResolveInterruptedInstall(const std::string& StateFolder, const std::string& ProgramPath,
                                     bool* ProgramRestored) {
  if (ProgramRestored != nullptr) *ProgramRestored = false;
  if (!Exists(JournalPath(StateFolder))) {
    // A decision with no install behind it is left over: it must not
    // settle the next install (finishing would discard its fresh queue).
    RemoveFile(ConfirmPath(StateFolder));
    return TRecovered::Nothing;
  }
  if (Decide(StateFolder, TDecision::Undo) == TDecision::Confirmed) {
    FinishInstall(StateFolder);
    return TRecovered::Finished;
  }
  WriteFailure(StateFolder, ProgramPath, "the install was interrupted before the new version confirmed its start");
  TUndoProblem problem;
  if (RollBack(StateFolder, ProgramPath, ProgramRestored, &problem)) {
    // An earlier try left a mix: the record now says what is true.
    if (const auto failure = ReadFailure(StateFolder); failure && failure->Outcome == TFailureOutcome::Mixed)
      WriteFailure(StateFolder, failure->File,
                   "it could not be put back at first and is back now; the previous version is in place",
                   TFailureOutcome::Kept, true);
    return TRecovered::RolledBack;
  }
  WriteStuckFailure(StateFolder, problem);
  return TRecovered::Stuck;
}

void WriteStuckFailure(const std::string& StateFolder, const TUndoProblem& Problem) {
  std::string first;
  if (const auto failure = ReadFailure(StateFolder); failure && failure->Outcome != TFailureOutcome::Mixed)
    first = " The upgrade was being undone because " + failure->File + ": " + failure->Reason + ".";
  WriteFailure(StateFolder, Problem.File,
               "this file could not be put back (" + Problem.Reason +
                   "), so the program's files are partly of the new version; the program was not started." + first +
                   " The next start tries again.",
               TFailureOutcome::Mixed, true);
}

TRecovered Recover(const std::string& StateFolder, const std::string& ProgramPath, bool* ProgramRestored) {
  const TRecovered r = ResolveInterruptedInstall(StateFolder, ProgramPath, ProgramRestored);
  const TQueue queue = ReadQueueFile(QueuePath(StateFolder));
  if (queue.State == TQueueState::Unreadable)
    WriteFailure(StateFolder, QueuePath(StateFolder), "the upgrade's record could not be read: " + queue.Problem);
  if (queue.State == TQueueState::Committed || queue.State == TQueueState::Unreadable)
    DiscardQueue(StateFolder);  // committed, but no updater began it
  else
    RemoveFile(QueuePath(StateFolder));  // never committed: not an install
  RemoveStaged(StateFolder);
  return r;
}

#ifdef KELVORA_FAULT_HOOKS
bool InjectedFailure(int Move) {
  const char* v = std::getenv("KELVORA_UPDATER_FAIL_AT");
  return v != nullptr && *v != '\0' && std::atoi(v) == Move;
}
#endif

}  // namespace kelvora::updater
