#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/MimeApps.h"
#include "platform/win32/WideExact.h"

namespace kelvora::platform {

namespace {

// A string value up to its first NUL; false when the key or the value is
// missing or holds no string. RRF_RT_REG_SZ takes REG_EXPAND_SZ values too,
// expanded (asking for that type explicitly is only allowed unexpanded).
bool ReadString(HKEY Root, const std::wstring& SubKey, const wchar_t* Value, std::wstring& Out) {
  Out.clear();
  std::wstring buf(256, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    const LSTATUS rc =
        ::RegGetValueW(Root, SubKey.c_str(), Value, RRF_RT_REG_SZ, nullptr, buf.data(), &size);
    if (rc == ERROR_MORE_DATA) {
      buf.resize(size / sizeof(wchar_t) + 1);
      continue;  // the value grew between the calls: ask again, a few times at most
    }
    if (rc != ERROR_SUCCESS) return false;
    buf.resize(size / sizeof(wchar_t));
    Out = buf.substr(0, buf.find(L'\0'));
    return true;
  }
  return false;
}

bool KeyOpens(HKEY Root, const std::wstring& SubKey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(Root, SubKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

// The classes the shell merges: the user's own over the machine's.
struct TClassRoot {
  HKEY Root;
  const wchar_t* Prefix;
};
const TClassRoot kClassRoots[] = {{HKEY_CURRENT_USER, L"Software\\Classes\\"},
                                      {HKEY_LOCAL_MACHINE, L"Software\\Classes\\"}};

bool ClassKeyOpens(const std::wstring& SubKey) {
  return std::any_of(std::begin(kClassRoots), std::end(kClassRoots),
                     [&](const TClassRoot& r) { return KeyOpens(r.Root, r.Prefix + SubKey); });
}

// The default value of the first class key of that name that opens.
bool ClassDefault(const std::wstring& SubKey, std::wstring& Out) {
  for (const auto& r : kClassRoots) {
    if (!KeyOpens(r.Root, r.Prefix + SubKey)) continue;
    ReadString(r.Root, r.Prefix + SubKey, nullptr, Out);
    return true;
  }
  Out.clear();
  return false;
}

// The names of the subkeys of a class key, the user's first, each once.
std::vector<std::wstring> ClassSubkeys(const std::wstring& SubKey) {
  std::vector<std::wstring> names;
  for (const auto& r : kClassRoots) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(r.Root, (r.Prefix + SubKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    wchar_t name[256];  // a key name has at most 255 characters
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      const std::wstring n(name, length);
      const bool known = std::any_of(names.begin(), names.end(), [&](const std::wstring& m) {
        return ::CompareStringOrdinal(m.data(), static_cast<int>(m.size()), n.data(), static_cast<int>(n.size()),
                                      TRUE) == CSTR_EQUAL;
      });
      if (!known) names.push_back(n);
    }
    ::RegCloseKey(key);
  }
  return names;
}

std::wstring Lower(std::wstring S) {
  for (auto& c : S) c = static_cast<wchar_t>(std::towlower(c));
  return S;
}

// A name that stays one key: no path separator, not empty.
bool IsKeyName(const std::wstring& Name) { return !Name.empty() && Name.find(L'\\') == std::wstring::npos; }

std::wstring TypeOfExtension(const std::wstring& Ext) {
  std::wstring type;
  // The user's choice (Explorer's "Open with", the default-apps settings).
  ReadString(HKEY_CURRENT_USER,
             L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\" + Ext + L"\\UserChoice", L"ProgId",
             type);
  if (IsKeyName(type) && ClassKeyOpens(type)) return type;
  ClassDefault(Ext, type);
  return type;
}

}  // namespace

std::string AssociatedCommand(const std::string& Ext) {
  std::wstring ext;
  if (Ext.empty() || Ext == "." || !WideExact(Ext, ext) || !IsKeyName(ext)) return std::string();
  const std::wstring type = TypeOfExtension(ext);
  if (!IsKeyName(type) || !ClassKeyOpens(type)) return std::string();
  std::wstring command;
  if (ClassDefault(type + L"\\shell\\open\\command", command)) return Utf8(command);
  // No "open" verb: the first verb whose name holds "open", else the first
  // verb that has a command at all.
  const std::wstring shell = type + L"\\shell\\";
  const std::vector<std::wstring> verbs = ClassSubkeys(type + L"\\shell");
  const auto open = std::find_if(verbs.begin(), verbs.end(),
                                 [](const std::wstring& v) { return Lower(v).find(L"open") != std::wstring::npos; });
  if (open != verbs.end()) {
    ClassDefault(shell + *open + L"\\command", command);
    return Utf8(command);
  }
  for (const auto& verb : verbs)
    if (ClassDefault(shell + verb + L"\\command", command)) return Utf8(command);
  return std::string();
}

}  // namespace kelvora::platform
