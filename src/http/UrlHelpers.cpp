// SplitURL, EncodeURLPart, the status texts and the request flags.
#include <cctype>

#include "http/UrlParts.h"
#include "http/net/NetTypes.h"
#include "kelvora/kvHTTP.h"

namespace kelvora {

namespace httpimpl {

namespace {

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c >= 0x80 || c == ' ' || c == '#' || c == '%' || c == '*' || c == '<' || c == '>';
}

}  // namespace

std::string EncodeKeepingEscapes(const std::string& S) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < S.size(); ++i) {
    const auto c = static_cast<unsigned char>(S[i]);
    if (c == '%' && i + 2 < S.size() && IsHex(S[i + 1]) && IsHex(S[i + 2])) {
      out += S[i];
    } else if (NeedsEscape(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace httpimpl

bool SplitURL(const std::string& URL, std::string& Scheme, std::string& HostName, std::string& UserName,
              std::string& Password, std::string& Path, std::string& ExtraInfo, uint16_t& Port) {
  httpimpl::TUrlParts p;
  if (!httpimpl::CrackUrl(URL, p)) return false;
  Scheme = p.Scheme;
  HostName = p.HostName;
  UserName = p.UserName;
  Password = p.Password;
  Path = p.Path;
  ExtraInfo = p.ExtraInfo;
  Port = p.Port;
  return true;
}

std::string EncodeURLPart(const std::string& S) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(S.size());
  for (unsigned char c : S) {
    if (httpimpl::NeedsEscape(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string InternetStatusText(int32_t Status) {
  switch (Status) {
    case 10: return "Resolving name";
    case 11: return "Name resolved";
    case 20: return "Connecting to server";
    case 21: return "Connected";
    case 30: return "Sending Request";
    case 31: return "Request sent";
    case 40: return "Receiving response";
    case 41: return "Response received";
    case 42: return "CTL Response received";
    case 43: return "Prefetch";
    case 50: return "Closing connection";
    case 51: return "Connection closed";
    case 60: return "Handle created";
    case 70: return "Handle closing";
    case 100: return "Request complete";
    case 110: return "Redirect";
    case 120: return "Intermediate response";
    case 200: return "State change";
    default: return "Unknown status";
  }
}

uint32_t RequestFlags(const std::string& Scheme, TkvCacheOptions C, TkvInternetOptions O) {
  using namespace net;
  std::string scheme = Scheme;
  for (auto& ch : scheme) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  uint32_t f = 0;
  if (scheme == "https")
    f += flSecure;
  else if (C.Contains(coCreateTempFilesIfCantCache))
    f += flNeedFile;
  if (C.Contains(coAlwaysReload)) f += flReload;
  if (C.Contains(coReloadIfNoExpireInformation)) f += flHyperlink;
  if (C.Contains(coReloadUpdatedObjects)) f += flResynchronize;
  if (C.Contains(coPragmaNoCache)) f += flPragmaNoCache;
  if (C.Contains(coNoCacheWrite)) f += flNoCacheWrite;
  if (C.Contains(coUseCacheIfNetFail)) f += flCacheIfNetFail;
  if (O.Contains(ioIgnoreCertificateInvalid)) f += flIgnoreCertCNInvalid;
  if (O.Contains(ioIgnoreCertificateDateInvalid)) f += flIgnoreCertDateInvalid;
  if (O.Contains(ioIgnoreRedirectToHTTP)) f += flIgnoreRedirectToHTTP;
  if (O.Contains(ioIgnoreRedirectToHTTPS)) f += flIgnoreRedirectToHTTPS;
  if (O.Contains(ioKeepConnection)) f += flKeepConnection;
  if (O.Contains(ioNoAuthentication)) f += flNoAuth;
  if (O.Contains(ioNoAutoRedirect)) f += flNoAutoRedirect;
  if (O.Contains(ioNoCookies)) f += flNoCookies;
  return f;
}

}  // namespace kelvora
