// The undo at the next login on Linux: a copy of the updater in the state
// folder and an XDG autostart entry ("$XDG_CONFIG_HOME/autostart/", else
// "~/.config/autostart/") that starts it.
#include "../LoginUndo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "../Transaction.h"
#include "../TransactionFiles.h"

namespace kelvora::updater {

std::string UndoCopyPath(const std::string& StateFolder) { return StateFolder + "undo-at-login"; }

namespace {

std::string AutostartFolder() {
  if (const char* c = std::getenv("XDG_CONFIG_HOME"); c != nullptr && c[0] == '/') return std::string(c) + "/autostart/";
  if (const char* h = std::getenv("HOME"); h != nullptr && h[0] == '/') return std::string(h) + "/.config/autostart/";
  return "";
}

std::string EntryPath(const std::string& StateFolder) {
  const std::string folder = AutostartFolder();
  return folder.empty() ? "" : folder + UndoEntryName(StateFolder) + ".desktop";
}

// One argument of an Exec line: quoted, with the characters the quoting
// reserves escaped, "%" doubled for the field codes, and then every
// backslash doubled once more for the desktop file's own string escapes.
std::string ExecArgument(const std::string& Arg) {
  std::string quoted = "\"";
  for (const char c : Arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
    if (c == '%') quoted += '%';
  }
  quoted += '"';
  std::string value;
  for (const char c : quoted) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return value;
}

bool HasLineBreak(const std::string& S) { return S.find_first_of("\r\n") != std::string::npos; }

// The running updater's bytes, as a new private program file at Path.
bool CopySelf(const std::string& Path) {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return false;
  self[n] = '\0';
  if (Path == self) return true;  // started from the copy: it is in place
  const std::string temp = Path + ".uNEW";
  ::unlink(temp.c_str());
  const int in = ::open(self, O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    const ssize_t r = ::read(in, buf, sizeof buf);
    if (r == 0) break;
    if (r < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (!WriteAll(out, buf, static_cast<size_t>(r))) {
      ok = false;
      break;
    }
  }
  ok = ::fsync(out) == 0 && ok;
  const int err = errno;
  ::close(out);
  ::close(in);
  if (ok && RenameOver(temp, Path)) return true;
  ::unlink(temp.c_str());
  errno = err;
  return false;
}

void MakeFolders(const std::string& Folder) {
  // Created private, each level in turn; existing levels stay as they are.
  for (size_t at = Folder.find('/', 1); at != std::string::npos; at = Folder.find('/', at + 1))
    ::mkdir(Folder.substr(0, at).c_str(), 0700);
}

}  // namespace

bool AddUndoAtLogin(const std::string& StateFolder, const std::string& ProgramPath, std::string& Reason) {
  const std::string entry = EntryPath(StateFolder), copy = UndoCopyPath(StateFolder);
  if (entry.empty()) {
    Reason = "neither XDG_CONFIG_HOME nor HOME names a folder";
    return false;
  }
  if (HasLineBreak(copy) || HasLineBreak(ProgramPath) || HasLineBreak(entry)) {
    Reason = "a path holds a line break";
    return false;
  }
  if (!CopySelf(copy)) {
    Reason = "the updater could not be copied to " + copy + ": " + std::strerror(errno);
    return false;
  }
  MakeFolders(FolderPart(entry));
  std::string name = NamePart(ProgramPath);
  const std::string text = "[Desktop Entry]\nType=Application\nName=Undo an unconfirmed upgrade of " + name +
                           "\nExec=" + ExecArgument(copy) + " " + kUndoAtLoginOption + " " + ExecArgument(ProgramPath) +
                           "\nNoDisplay=true\nTerminal=false\n";
  if (!WriteFileDurably(entry, text)) {
    Reason = "the autostart entry " + entry + " could not be written: " + std::strerror(errno);
    RemoveFile(copy);
    return false;
  }
  return true;
}

void RemoveUndoAtLogin(const std::string& StateFolder) {
  const std::string entry = EntryPath(StateFolder);
  if (!entry.empty() && IsRegularFile(entry) && RemoveFile(entry)) SyncFolder(FolderPart(entry));
  if (IsRegularFile(UndoCopyPath(StateFolder))) RemoveFile(UndoCopyPath(StateFolder));
}

}  // namespace kelvora::updater
