// URL cracking with WinInet's cracker. The parts are taken as written and
// their escapes decoded here, so that the raw and the decoded forms come
// from one split.
#include <windows.h>
#include <wininet.h>

#include <cctype>
#include <cstdlib>
#include <vector>

#include "http/UrlParts.h"
#include "framework/win32/Wide.h"

namespace kelvora::httpimpl {

namespace {

// Buffer sizes of the parts, terminating NUL included.
constexpr size_t kSchemeMax = 33, kHostMax = 257, kUserMax = 129, kPasswordMax = 129, kPathMax = 2049,
                 kExtraMax = 2049;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string Decode(const std::string& S) {
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '%' && i + 2 < S.size() && HexValue(S[i + 1]) >= 0 && HexValue(S[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(S[i + 1]) * 16 + HexValue(S[i + 2]));
      i += 2;
    } else {
      out += S[i];
    }
  }
  return out;
}

// The port as written in the authority, if any: WinInet keeps only its low
// 16 bits, so a port beyond 65535 would silently become another one.
bool PortFits(const std::string& Url) {
  const size_t start = Url.find("://");
  if (start == std::string::npos) return true;
  const size_t end = Url.find_first_of("/?#", start + 3);
  std::string authority = Url.substr(start + 3, end == std::string::npos ? std::string::npos : end - start - 3);
  if (size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  const size_t colon = authority.rfind(':');
  if (colon == std::string::npos || authority.find(']', colon) != std::string::npos) return true;
  const std::string digits = authority.substr(colon + 1);
  if (digits.size() > 5) return digits.find_first_not_of('0') == std::string::npos;
  return digits.empty() || std::strtol(digits.c_str(), nullptr, 10) <= 65535;
}

}  // namespace

bool CrackUrl(const std::string& URL, TUrlParts& P) {
  const std::string url8 = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  if (!PortFits(url8)) return false;
  const std::wstring url = win32::Wide(url8);
  // Buffers larger than the parts may be, so that an overlong part is told
  // apart from a failed split.
  std::vector<wchar_t> scheme(4096), host(4096), user(4096), pass(4096), path(65536), extra(65536);
  URL_COMPONENTSW c{};
  c.dwStructSize = sizeof c;
  c.lpszScheme = scheme.data();
  c.dwSchemeLength = static_cast<DWORD>(scheme.size());
  c.lpszHostName = host.data();
  c.dwHostNameLength = static_cast<DWORD>(host.size());
  c.lpszUserName = user.data();
  c.dwUserNameLength = static_cast<DWORD>(user.size());
  c.lpszPassword = pass.data();
  c.dwPasswordLength = static_cast<DWORD>(pass.size());
  c.lpszUrlPath = path.data();
  c.dwUrlPathLength = static_cast<DWORD>(path.size());
  c.lpszExtraInfo = extra.data();
  c.dwExtraInfoLength = static_cast<DWORD>(extra.size());
  if (!InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &c)) return false;
  TUrlParts out;
  out.Scheme = win32::Utf8(std::wstring(c.lpszScheme, c.dwSchemeLength));
  for (auto& ch : out.Scheme) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  out.HostName = Decode(win32::Utf8(std::wstring(c.lpszHostName, c.dwHostNameLength)));
  out.UserName = Decode(win32::Utf8(std::wstring(c.lpszUserName, c.dwUserNameLength)));
  out.Password = Decode(win32::Utf8(std::wstring(c.lpszPassword, c.dwPasswordLength)));
  out.RawPath = win32::Utf8(std::wstring(c.lpszUrlPath, c.dwUrlPathLength));
  out.Path = Decode(out.RawPath);
  out.RawExtraInfo = win32::Utf8(std::wstring(c.lpszExtraInfo, c.dwExtraInfoLength));
  out.ExtraInfo = Decode(out.RawExtraInfo);
  out.Port = c.nPort;
  if (out.HostName.size() >= 2 && out.HostName.front() == '[' && out.HostName.back() == ']')
    out.HostName = out.HostName.substr(1, out.HostName.size() - 2);
  if (out.Scheme.size() >= kSchemeMax || out.HostName.size() >= kHostMax || out.UserName.size() >= kUserMax ||
      out.Password.size() >= kPasswordMax || out.Path.size() >= kPathMax || out.ExtraInfo.size() >= kExtraMax)
    return false;
  P = std::move(out);
  return true;
}

}  // namespace kelvora::httpimpl
