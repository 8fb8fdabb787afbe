// The program registered for a kind of file (HKEY_CLASSES_ROOT, the user's
// own choice first), and opening a web address in it through the shell.
#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "framework/win32/Wide.h"
#include "kelvora/kvUtils.h"
#include "utils/TextUtils.h"

namespace kelvora {

namespace {

using win32::Utf8;
using win32::Wide;

class TRegKey {
 public:
  TRegKey(HKEY Root, const std::string& Path) {
    if (::RegOpenKeyExW(Root, Wide(Path).c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  // A key of the classes: the user's own first, as HKEY_CLASSES_ROOT merges
  // them on Windows (Wine shows only the machine's there).
  explicit TRegKey(const std::string& ClassPath)
      : TRegKey(HKEY_CURRENT_USER, "Software\\Classes\\" + ClassPath) {
    if (key_ == nullptr &&
        ::RegOpenKeyExW(HKEY_CLASSES_ROOT, Wide(ClassPath).c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
      key_ = nullptr;
  }
  ~TRegKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  TRegKey(const TRegKey&) = delete;
  TRegKey& operator=(const TRegKey&) = delete;
  bool IsOpen() const { return key_ != nullptr; }

  // A string value ("" names the default value); "" when absent. Expandable
  // strings get their environment variables expanded.
  std::string Text(const std::string& Name) const {
    if (key_ == nullptr) return std::string();
    const std::wstring name = Wide(Name);
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > (1u << 20))
      return std::string();
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key_, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) !=
        ERROR_SUCCESS)
      return std::string();
    buf.resize(wcsnlen(buf.c_str(), buf.size()));
    if (type == REG_EXPAND_SZ) {
      const DWORD n = ::ExpandEnvironmentStringsW(buf.c_str(), nullptr, 0);
      std::wstring expanded(n, L'\0');
      if (n > 0 && ::ExpandEnvironmentStringsW(buf.c_str(), expanded.data(), n) == n) {
        expanded.resize(n - 1);
        buf = expanded;
      }
    }
    return Utf8(buf);
  }

  std::vector<std::string> SubKeys() const {
    std::vector<std::string> names;
    if (key_ == nullptr) return names;
    wchar_t name[256];
    for (DWORD i = 0; i < 4096; ++i) {
      DWORD len = 256;
      const LONG rc = ::RegEnumKeyExW(key_, i, name, &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS) names.push_back(Utf8(std::wstring(name, len)));
    }
    return names;
  }

 private:
  HKEY key_ = nullptr;
};

// The default value of a command key of the classes, "" when it does not
// open.
std::string CommandOf(const std::string& Key) { return TRegKey(Key).Text(""); }

}  // namespace

std::string GetAssociatedProgram(const std::string& Ext) {
  if (Ext.empty() || Ext == ".") return std::string();
  try {
    // The type the user chose for the extension, else the registered one.
    std::string type = TRegKey(HKEY_CURRENT_USER,
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + Ext +
                                   "\\UserChoice")
                           .Text("ProgId");
    if (type.empty()) type = TRegKey(Ext).Text("");
    if (type.empty() || !TRegKey(type).IsOpen()) return std::string();
    std::string cmd = CommandOf(type + "\\shell\\open\\command");
    if (cmd.empty()) {
      const TRegKey shell(type + "\\shell");
      if (!shell.IsOpen()) return std::string();
      const std::vector<std::string> verbs = shell.SubKeys();
      // The first verb, in list order, whose name contains "open" (any
      // case); without one, the first verb that has a command.
      std::string verb;
      for (const auto& v : verbs)
        if (utils::LowerCase(v).find("open") != std::string::npos) {
          verb = v;
          break;
        }
      if (!verb.empty()) {
        cmd = CommandOf(type + "\\shell\\" + verb + "\\command");
      } else {
        for (const auto& v : verbs)
          if (TRegKey(type + "\\shell\\" + v + "\\command").IsOpen()) {
            cmd = CommandOf(type + "\\shell\\" + v + "\\command");
            break;
          }
      }
    }
    std::string params;
    SplitCommandLine(cmd, params);
    return cmd;
  } catch (...) {
    return std::string();  // every error ends the search
  }
}

void OpenURL(const std::string& URL, bool UseBrowser) {
  const std::string url = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  // An address that begins like an option would be read as one by the
  // program that gets it: it is not opened.
  if (url.empty() || url[0] == '-') return;
  try {
    if (UseBrowser) {
      const std::string program = GetAssociatedProgram(".html");
      // The address quoted as one argument, so blanks in it stay its own.
      if (!program.empty() &&
          reinterpret_cast<INT_PTR>(::ShellExecuteW(::GetDesktopWindow(), L"open", Wide(program).c_str(),
                                                    Wide("\"" + url + "\"").c_str(), nullptr, SW_SHOWNORMAL)) > 32)
        return;
    }
    ::ShellExecuteW(::GetDesktopWindow(), L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } catch (...) {
    // OpenURL reports nothing.
  }
}

}  // namespace kelvora
