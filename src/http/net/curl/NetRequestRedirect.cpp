// TNetRequest: following redirects itself, so that each hop is checked
// (scheme, count, where the login goes).
#include "http/net/NetRequest.h"

#include <cctype>

namespace kelvora::net {

namespace {

std::string SchemeOf(const std::string& Url) {
  size_t p = Url.find("://");
  std::string s = p == std::string::npos ? std::string() : Url.substr(0, p);
  for (auto& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ResolveUrl(const std::string& Base, const std::string& Ref, std::string& Out) {
  CURLU* u = curl_url();
  if (u == nullptr) return false;
  bool ok = curl_url_set(u, CURLUPART_URL, Base.c_str(), 0) == CURLUE_OK &&
            curl_url_set(u, CURLUPART_URL, Ref.c_str(), CURLU_URLENCODE) == CURLUE_OK;
  char* s = nullptr;
  if (ok) ok = curl_url_get(u, CURLUPART_URL, &s, 0) == CURLUE_OK;
  if (ok) Out = s;
  curl_free(s);
  curl_url_cleanup(u);
  return ok;
}

}  // namespace

int TNetRequest::FollowRedirect() {
  const int s = resp_.Status();
  if (s != 301 && s != 302 && s != 303 && s != 307 && s != 308) return 0;
  if ((flags_ & flNoAutoRedirect) || streaming_) return 0;
  std::string location, target;
  if (!resp_.Find("Location", location) || location.empty() || !ResolveUrl(url_, location, target)) return 0;
  const std::string to = SchemeOf(target);
  if (to != "http" && to != "https") return 0;
  if (SchemeOf(url_) == "https" && to == "http" && !(flags_ & flIgnoreRedirectToHTTP)) {
    Fail(TNetError::RedirectRefused);
    return -1;
  }
  if (++redirects_ > kMaxRedirects) {
    Fail(TNetError::TooManyRedirects);
    return -1;
  }
  session_.NotifyText(context_, stRedirect, target);
  DrainForRedirect();
  if (s == 303 || ((s == 301 || s == 302) && method_ == "POST")) {
    method_ = "GET";
    hasBody_ = false;
    postData_.clear();
  }
  url_ = target;
  return 1;
}

// Reads and drops a short redirect body so that its connection can serve the
// next request; a long one is cut off with its connection.
void TNetRequest::DrainForRedirect() {
  if (done_ || !attached_) return;
  discard_ = true;
  spillPos_ = spillEnd_ = 0;
  if (recvPaused_) Resume(true, false);
  const TNetError keep = error_;
  Wait([this] { return discarded_ > kRedirectDrainLimit; }, Phase::Receiving);
  error_ = keep;
  Detach();
}

}  // namespace kelvora::net
