#include "platform/Folders.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace kelvora::platform {

namespace {

std::string Env(const char* Name) {
  const char* v = std::getenv(Name);
  return v != nullptr ? std::string(v) : std::string();
}

std::string WithoutTrailingSlashes(std::string S) {
  while (S.size() > 1 && S.back() == '/') S.pop_back();
  return S;
}

std::string BaseDir(const char* Var, const char* Below) {
  std::string v = Env(Var);
  if (!v.empty() && v[0] == '/') return WithoutTrailingSlashes(v);
  std::string home = HomeFolder();
  return home.empty() ? std::string() : home + Below;
}

std::vector<std::string> DirList(const char* Var, const char* Default) {
  std::string v = Env(Var);
  if (v.empty()) v = Default;
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= v.size()) {
    size_t end = v.find(':', start);
    if (end == std::string::npos) end = v.size();
    std::string item = v.substr(start, end - start);
    if (!item.empty() && item[0] == '/') out.push_back(WithoutTrailingSlashes(item));
    start = end + 1;
  }
  return out;
}

std::string& TempBase() {
  static std::string base = "/tmp";
  return base;
}

bool Exists(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0;
}

}  // namespace

std::string ExecutablePath() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n > 0) {
    std::string path(buf, static_cast<size_t>(n));
    // A replaced executable reads as "<path> (deleted)".
    static const std::string kDeleted = " (deleted)";
    if (!Exists(path) && path.size() > kDeleted.size() &&
        path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
      path.resize(path.size() - kDeleted.size());
    return path;
  }
  // No /proc: the name the program was started by, made absolute.
  const char* execfn = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (execfn != nullptr) {
    char* real = ::realpath(execfn, nullptr);
    if (real != nullptr) {
      std::string path(real);
      ::free(real);
      return path;
    }
  }
  return std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (home.empty()) {
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buf[4096];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &result) == 0 && result != nullptr && pw.pw_dir != nullptr)
      home = pw.pw_dir;
  }
  if (home.empty() || home[0] != '/') return std::string();
  return WithoutTrailingSlashes(home);
}

std::string XdgConfigHome() { return BaseDir("XDG_CONFIG_HOME", "/.config"); }
std::string XdgDataHome() { return BaseDir("XDG_DATA_HOME", "/.local/share"); }
std::vector<std::string> XdgConfigDirs() { return DirList("XDG_CONFIG_DIRS", "/etc/xdg"); }
std::vector<std::string> XdgDataDirs() { return DirList("XDG_DATA_DIRS", "/usr/local/share:/usr/share"); }

std::string XdgUserDir(const std::string& Name, const std::string& Default) {
  const std::string home = HomeFolder();
  const std::string config = XdgConfigHome();
  const std::string key = "XDG_" + Name + "_DIR";
  std::string found;
  bool have = false;
  if (!config.empty()) {
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
      size_t i = line.find_first_not_of(" \t");
      if (i == std::string::npos || line[i] == '#') continue;
      if (line.compare(i, key.size(), key) != 0) continue;
      i += key.size();
      if (i >= line.size() || line[i] != '=') continue;
      ++i;
      // The value: "$HOME/..." or "/..." in double quotes, with backslash
      // escapes; the last assignment counts, as when the shell reads it.
      std::string raw;
      bool quoted = i < line.size() && line[i] == '"';
      if (quoted) ++i;
      for (; i < line.size(); ++i) {
        char c = line[i];
        if (quoted && c == '"') break;
        if (!quoted && (c == ' ' || c == '\t' || c == '#')) break;
        if (c == '\\' && i + 1 < line.size()) c = line[++i];
        raw += c;
      }
      std::string value;
      if (raw.compare(0, 5, "$HOME") == 0 && (raw.size() == 5 || raw[5] == '/')) {
        if (home.empty()) continue;
        value = home + raw.substr(5);
      } else if (!raw.empty() && raw[0] == '/') {
        value = raw;
      } else {
        continue;  // relative paths are not allowed
      }
      found = WithoutTrailingSlashes(value);
      have = true;
    }
  }
  if (have) return found;
  return home.empty() ? std::string() : home + "/" + Default;
}

std::string KnownFolder(TKnownFolder Folder) {
  switch (Folder) {
    case TKnownFolder::Desktop: return XdgUserDir("DESKTOP", "Desktop");
    case TKnownFolder::Documents: return XdgUserDir("DOCUMENTS", "Documents");
    case TKnownFolder::Pictures: return XdgUserDir("PICTURES", "Pictures");
    case TKnownFolder::AppData: return XdgDataHome();
    case TKnownFolder::ProgramFiles: return "/opt";
    case TKnownFolder::Windows: return "/usr";
    case TKnownFolder::System: return "/usr/lib";
    case TKnownFolder::Help: return "/usr/share/help";
    case TKnownFolder::Media: return "/usr/share/sounds";
    case TKnownFolder::Cursors: return "/usr/share/icons";
  }
  return std::string();
}

bool IsPrivateFolder(const std::string& Path) {
  struct stat st {};
  if (Path.empty() || ::lstat(Path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

std::string PrivateTempFolder() {
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    std::string v = Env(var);
    if (v.empty() || v[0] != '/') continue;
    v = WithoutTrailingSlashes(v);
    if (IsPrivateFolder(v)) return v;
  }
  const std::string own = TempBase() + "/kelvora-" + std::to_string(::geteuid());
  if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  struct stat st {};
  if (::lstat(own.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
      (st.st_mode & 07777) != 0700 && (st.st_mode & 07077) == 0) {
    // Ours and closed to everybody else, but a strict umask took some of the
    // owner's bits: give them back, through a descriptor of the folder itself
    // so that a swapped path is not followed. A folder that others could
    // write to is never repaired: it is refused.
    int fd = ::open(own.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      struct stat fst {};
      if (::fstat(fd, &fst) == 0 && fst.st_uid == ::geteuid()) ::fchmod(fd, 0700);
      ::close(fd);
    }
  }
  return IsPrivateFolder(own) ? own : std::string();
}

void SetPrivateTempBase(const std::string& Base) { TempBase() = Base.empty() ? "/tmp" : Base; }

}  // namespace kelvora::platform
