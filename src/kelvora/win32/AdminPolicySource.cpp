// The administrator's policy on Windows: the values of
// SOFTWARE\Policies\<Company>\<Product>\Update under HKEY_LOCAL_MACHINE,
// then those it lacks from the same key under HKEY_CURRENT_USER. Flags and
// the interval are DWORDs, the rest strings (REG_SZ).
#include <windows.h>

#include <vector>

#include "framework/win32/Wide.h"
#include "kelvora/AdminPolicy.h"
#include "kelvora/DeveloperLog.h"

namespace kelvora {

namespace {

using win32::Utf8;
using win32::Wide;

bool PlainName(const std::string& Name) {
  return !Name.empty() && Name.size() <= 200 && Name.find('\\') == std::string::npos &&
         Name.find('\0') == std::string::npos;
}

void ReadKey(HKEY Root, const char* RootName, const std::string& SubKey, TAdminPolicy& Policy) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(Root, Wide(SubKey).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  const std::string where = std::string(RootName) + "\\" + SubKey;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 0;
    LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a name longer than any the policy knows
    const std::string valueName = Utf8(std::wstring(name, nameLength));
    if (type == REG_DWORD) {
      DWORD value = 0, length = sizeof value;
      if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &length) == ERROR_SUCCESS)
        Policy.Take(valueName, static_cast<int64_t>(value), where);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
      if (size > 64 * 1024) {
        DeveloperNote("administrator policy " + where + ": " + valueName + " is ignored: longer than 64 KiB");
        continue;
      }
      std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
      DWORD length = static_cast<DWORD>(text.size() * sizeof(wchar_t));
      if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, text.data(), &length) ==
          ERROR_SUCCESS)
        Policy.Take(valueName, Utf8(text.data()), where);
    } else {
      DeveloperNote("administrator policy " + where + ": " + valueName +
                    " is ignored: neither a DWORD nor a string value");
    }
  }
  RegCloseKey(key);
}

}  // namespace

std::string AdminPolicyFolder() { return {}; }

TAdminPolicy ReadAdminPolicy(const std::string& Company, const std::string& Product) {
  TAdminPolicy policy;
  if (!PlainName(Product) || (!Company.empty() && !PlainName(Company))) return policy;
  const std::string subKey =
      "SOFTWARE\\Policies\\" + (Company.empty() ? std::string() : Company + "\\") + Product + "\\Update";
  ReadKey(HKEY_LOCAL_MACHINE, "HKLM", subKey, policy);
  ReadKey(HKEY_CURRENT_USER, "HKCU", subKey, policy);
  return policy;
}

}  // namespace kelvora
