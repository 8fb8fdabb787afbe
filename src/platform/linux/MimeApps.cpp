#include "platform/MimeApps.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/Folders.h"

namespace kelvora::platform {

namespace {

std::string Lower(std::string S) {
  for (auto& c : S)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return S;
}

std::string TrimBlanks(const std::string& S) {
  size_t b = S.find_first_not_of(" \t\r");
  if (b == std::string::npos) return std::string();
  size_t e = S.find_last_not_of(" \t\r");
  return S.substr(b, e - b + 1);
}

bool IsFile(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The value of Key in group Group of an ini-style file, "" when absent. Only
// the first assignment in the group counts; localised keys (Key[xx]) are
// other keys.
bool ReadKey(const std::string& File, const std::string& Group, const std::string& Key, std::string& Value) {
  std::ifstream in(File);
  if (!in) return false;
  std::string line;
  bool inGroup = false;
  while (std::getline(in, line)) {
    std::string t = TrimBlanks(line);
    if (t.empty() || t[0] == '#') continue;
    if (t[0] == '[') {
      inGroup = t == "[" + Group + "]";
      continue;
    }
    if (!inGroup) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos) continue;
    if (TrimBlanks(t.substr(0, eq)) != Key) continue;
    Value = TrimBlanks(t.substr(eq + 1));
    return true;
  }
  return false;
}

std::vector<std::string> SplitList(const std::string& S) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : S) {
    if (c == ';') {
      if (!cur.empty()) out.push_back(TrimBlanks(cur));
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!TrimBlanks(cur).empty()) out.push_back(TrimBlanks(cur));
  return out;
}

std::vector<std::string> ApplicationDirs() {
  std::vector<std::string> dirs;
  std::string home = XdgDataHome();
  if (!home.empty()) dirs.push_back(home + "/applications");
  for (const auto& d : XdgDataDirs()) dirs.push_back(d + "/applications");
  return dirs;
}

// The installed, visible desktop entry of a desktop file id, "" when none.
std::string ResolveDesktopId(const std::string& Id) {
  if (Id.empty() || Id.find("..") != std::string::npos || Id[0] == '/') return std::string();
  std::vector<std::string> names = {Id};
  // "vendor-app.desktop" may live at "vendor/app.desktop".
  std::string sub = Id;
  for (size_t p = sub.find('-'); p != std::string::npos; p = sub.find('-', p + 1)) {
    sub[p] = '/';
    names.push_back(sub);
  }
  for (const auto& dir : ApplicationDirs()) {
    for (const auto& name : names) {
      const std::string path = dir + "/" + name;
      if (!IsFile(path)) continue;
      std::string hidden;
      if (ReadKey(path, "Desktop Entry", "Hidden", hidden) && hidden == "true") return std::string();
      return path;
    }
  }
  return std::string();
}

std::vector<std::string> MimeAppsLists() {
  std::vector<std::string> desktops;
  if (const char* cur = std::getenv("XDG_CURRENT_DESKTOP")) {
    std::string s = cur, item;
    for (char c : s + ":") {
      if (c == ':') {
        if (!item.empty()) desktops.push_back(Lower(item));
        item.clear();
      } else {
        item += c;
      }
    }
  }
  std::vector<std::string> dirs;
  if (std::string h = XdgConfigHome(); !h.empty()) dirs.push_back(h);
  for (const auto& d : XdgConfigDirs()) dirs.push_back(d);
  for (const auto& d : ApplicationDirs()) dirs.push_back(d);
  std::vector<std::string> files;
  for (const auto& d : dirs) {
    for (const auto& desk : desktops) files.push_back(d + "/" + desk + "-mimeapps.list");
    files.push_back(d + "/mimeapps.list");
  }
  // The older name of the same list, in the data folders.
  for (const auto& d : ApplicationDirs()) files.push_back(d + "/defaults.list");
  return files;
}

std::string FirstInstalled(const std::vector<std::string>& Files, const std::string& Group,
                           const std::string& MimeType) {
  for (const auto& f : Files) {
    std::string value;
    if (!ReadKey(f, Group, MimeType, value)) continue;
    for (const auto& id : SplitList(value)) {
      std::string path = ResolveDesktopId(id);
      if (!path.empty()) return path;
    }
  }
  return std::string();
}

}  // namespace

std::string MimeTypeOfExtension(const std::string& Ext) {
  if (Ext.size() < 2 || Ext[0] != '.') return std::string();
  const std::string ext = Lower(Ext.substr(1));
  if (ext == "html" || ext == "htm" || ext == "shtml") return "text/html";
  if (ext == "xhtml") return "application/xhtml+xml";
  for (const char* file : {"/etc/mime.types"}) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::vector<std::string> words;
      std::string w;
      for (char c : line + " ") {
        if (c == ' ' || c == '\t' || c == '\r') {
          if (!w.empty()) words.push_back(w);
          w.clear();
        } else {
          w += c;
        }
      }
      for (size_t i = 1; i < words.size(); ++i)
        if (Lower(words[i]) == ext) return words[0];
    }
  }
  return std::string();
}

std::string DefaultDesktopEntry(const std::string& MimeType) {
  if (MimeType.empty()) return std::string();
  const auto lists = MimeAppsLists();
  std::string path = FirstInstalled(lists, "Default Applications", MimeType);
  if (path.empty()) path = FirstInstalled(lists, "Added Associations", MimeType);
  if (path.empty()) {
    std::vector<std::string> caches;
    for (const auto& d : ApplicationDirs()) caches.push_back(d + "/mimeinfo.cache");
    path = FirstInstalled(caches, "MIME Cache", MimeType);
  }
  return path;
}

std::string AssociatedCommand(const std::string& Ext) {
  const std::string mime = MimeTypeOfExtension(Ext);
  if (mime.empty()) return std::string();
  const std::string entry = DefaultDesktopEntry(mime);
  return entry.empty() ? std::string() : DesktopEntryCommand(entry);
}

std::string DesktopEntryCommand(const std::string& DesktopFile) {
  std::string raw;
  if (!ReadKey(DesktopFile, "Desktop Entry", "Exec", raw)) return std::string();
  // String escapes of the format.
  std::string s;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\' && i + 1 < raw.size()) {
      char n = raw[++i];
      switch (n) {
        case 's': s += ' '; break;
        case 'n': s += '\n'; break;
        case 't': s += '\t'; break;
        case 'r': s += '\r'; break;
        default: s += n; break;  // "\\" and escapes of the Exec quoting
      }
      continue;
    }
    s += c;
  }
  // Field codes.
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 1 < s.size() && s[i + 1] == '%') out += '%';
    ++i;  // drop the code letter (or a trailing lone "%")
  }
  return out;
}

}  // namespace kelvora::platform
