// URL cracking over libcurl's URL parser.
#include <curl/curl.h>

#include <cstdlib>

#include "http/UrlParts.h"

namespace kelvora::httpimpl {

namespace {

// Buffer sizes of the parts, terminating NUL included.
constexpr size_t kSchemeMax = 33, kHostMax = 257, kUserMax = 129, kPasswordMax = 129, kPathMax = 2049,
                 kExtraMax = 2049;

bool Get(CURLU* U, CURLUPart Part, unsigned Flags, std::string& Out) {
  char* s = nullptr;
  CURLUcode rc = curl_url_get(U, Part, &s, Flags);
  if (rc == CURLUE_OK && s != nullptr) Out = s;
  curl_free(s);
  return rc == CURLUE_OK;
}

}  // namespace

bool CrackUrl(const std::string& URL, TUrlParts& P) {
  const std::string url = URL.find("://") == std::string::npos ? "http://" + URL : URL;
  CURLU* u = curl_url();
  if (u == nullptr) return false;
  TUrlParts out;
  bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(),
                         CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS | CURLU_ALLOW_SPACE) == CURLUE_OK;
  if (ok) {
    ok = Get(u, CURLUPART_SCHEME, 0, out.Scheme);
    Get(u, CURLUPART_HOST, CURLU_URLDECODE, out.HostName);
    Get(u, CURLUPART_USER, CURLU_URLDECODE, out.UserName);
    Get(u, CURLUPART_PASSWORD, CURLU_URLDECODE, out.Password);
    Get(u, CURLUPART_PATH, CURLU_URLDECODE, out.Path);
    Get(u, CURLUPART_PATH, 0, out.RawPath);
    std::string query, rawQuery, fragment, rawFragment;
    if (Get(u, CURLUPART_QUERY, CURLU_URLDECODE, query)) {
      Get(u, CURLUPART_QUERY, 0, rawQuery);
      out.ExtraInfo = "?" + query;
      out.RawExtraInfo = "?" + rawQuery;
    }
    if (Get(u, CURLUPART_FRAGMENT, CURLU_URLDECODE, fragment)) {
      Get(u, CURLUPART_FRAGMENT, 0, rawFragment);
      out.ExtraInfo += "#" + fragment;
      out.RawExtraInfo += "#" + rawFragment;
    }
    std::string port;
    if (Get(u, CURLUPART_PORT, CURLU_DEFAULT_PORT, port)) {
      const long p = std::strtol(port.c_str(), nullptr, 10);
      out.Port = p > 0 && p < 65536 ? static_cast<uint16_t>(p) : 0;
    }
  }
  curl_url_cleanup(u);
  if (out.HostName.size() >= 2 && out.HostName.front() == '[' && out.HostName.back() == ']')
    out.HostName = out.HostName.substr(1, out.HostName.size() - 2);
  if (!ok || out.Scheme.size() >= kSchemeMax || out.HostName.size() >= kHostMax || out.UserName.size() >= kUserMax ||
      out.Password.size() >= kPasswordMax || out.Path.size() >= kPathMax || out.ExtraInfo.size() >= kExtraMax)
    return false;
  P = std::move(out);
  return true;
}

}  // namespace kelvora::httpimpl
