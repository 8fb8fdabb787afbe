#include "http/net/wininet/HopTarget.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#include "framework/win32/Wide.h"
#include "http/net/HeaderLines.h"

namespace kelvora::net {

bool CrackHop(const std::string& Url, THopTarget& Target) {
  const std::wstring url = win32::Wide(Url);
  std::vector<wchar_t> scheme(33), host(257), path(8192), extra(8192);
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.lpszScheme = scheme.data();
  c.dwSchemeLength = static_cast<DWORD>(scheme.size());
  c.lpszHostName = host.data();
  c.dwHostNameLength = static_cast<DWORD>(host.size());
  c.lpszUrlPath = path.data();
  c.dwUrlPathLength = static_cast<DWORD>(path.size());
  c.lpszExtraInfo = extra.data();
  c.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &c)) return false;
  THopTarget t;
  t.Scheme = Lower(win32::Utf8(std::wstring(c.lpszScheme, c.dwSchemeLength)));
  t.Host = win32::Utf8(std::wstring(c.lpszHostName, c.dwHostNameLength));
  t.Port = c.nPort;
  t.Object = win32::Utf8(std::wstring(c.lpszUrlPath, c.dwUrlPathLength)) +
             win32::Utf8(std::wstring(c.lpszExtraInfo, c.dwExtraInfoLength));
  // A fragment never goes to the server.
  if (size_t hash = t.Object.find('#'); hash != std::string::npos) t.Object.erase(hash);
  if (t.Object.empty()) t.Object = "/";
  Target = std::move(t);
  return true;
}

std::string OriginOf(const std::string& Url) {
  THopTarget t;
  if (!CrackHop(Url, t)) return {};
  return t.Scheme + "://" + Lower(t.Host) + ":" + std::to_string(t.Port);
}

bool ResolveUrl(const std::string& Base, const std::string& Ref, std::string& Out) {
  const std::wstring base = win32::Wide(Base), ref = win32::Wide(Ref);
  DWORD size = 0;
  InternetCombineUrlW(base.c_str(), ref.c_str(), nullptr, &size, 0);
  if (size == 0) return false;
  std::vector<wchar_t> out(size + 1);
  size = static_cast<DWORD>(out.size());
  if (!InternetCombineUrlW(base.c_str(), ref.c_str(), out.data(), &size, 0)) return false;
  Out = win32::Utf8(std::wstring(out.data(), size));
  return true;
}

}  // namespace kelvora::net
