// TNetRequest over libcurl: the libcurl options of each send (time-outs, proxy, logins,
// certificates, cookies, method, header lines).
#include "http/net/curl/NetRequestImpl.h"

#include "http/net/HeaderLines.h"
#include "http/net/curl/NetClientImpl.h"
#include "http/net/curl/TlsRelax.h"

namespace kelvora::net {

namespace {

constexpr long kCurlBufferSize = 64 * 1024;

}  // namespace

long TNetRequest::Impl::AuthMask(const std::string& Challenge) const {
  // The strongest scheme offered that needs no system login: never Basic's
  // password in the clear where the other side takes another.
  if (ContainsWord(Challenge, "digest")) return CURLAUTH_DIGEST;
  if (ContainsWord(Challenge, "ntlm")) return CURLAUTH_NTLM;
  if (ContainsWord(Challenge, "basic")) return CURLAUTH_BASIC;
  // Before any challenge: libcurl asks first and answers the scheme offered.
  return CURLAUTH_BASIC | CURLAUTH_DIGEST | CURLAUTH_NTLM;
}

void TNetRequest::Impl::Configure() {
  CURL* e = easy_;
  curl_easy_setopt(e, CURLOPT_URL, r.url_.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kCurlBufferSize);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer_);
  errorBuffer_[0] = 0;
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, r.session_.Agent().empty() ? nullptr : r.session_.Agent().c_str());
  curl_easy_setopt(e, CURLOPT_REFERER, r.referer_.empty() ? nullptr : r.referer_.c_str());

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &TNetRequest::Impl::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &TNetRequest::Impl::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &TNetRequest::Impl::OnOpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &TNetRequest::Impl::OnPrereq);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(r.connectTimeout_));
  // A body that drips (a byte now and then keeps the idle limit of the wait
  // from running out) is ended by libcurl's low-speed limit: under
  // kLowSpeedLimit bytes a second over a whole receive time-out.
  const long lowSpeedSeconds = r.receiveTimeout_ == 0 ? 0L : static_cast<long>((r.receiveTimeout_ + 999) / 1000);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, lowSpeedSeconds != 0 ? kLowSpeedLimit : 0L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, lowSpeedSeconds);

  // Proxy: the preconfigured one comes from the usual *_proxy variables,
  // which libcurl reads when no proxy is set.
  switch (r.session_.Access()) {
    case TAccessType::Direct:
      curl_easy_setopt(e, CURLOPT_PROXY, "");
      break;
    case TAccessType::Proxy:
      curl_easy_setopt(e, CURLOPT_PROXY, r.session_.Proxy().c_str());
      curl_easy_setopt(e, CURLOPT_NOPROXY, r.session_.NoProxy().c_str());
      break;
    case TAccessType::Preconfig:
      curl_easy_setopt(e, CURLOPT_PROXY, nullptr);
      curl_easy_setopt(e, CURLOPT_NOPROXY, nullptr);
      break;
  }
  const bool noAuth = (r.flags_ & flNoAuth) != 0;
  proxyAuthSent_ = 0;
  if (!noAuth && !r.proxyUsername_.empty()) {
    proxyAuthSent_ = AuthMask(r.proxyChallenge_);
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r.proxyUsername_.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r.proxyPassword_.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, proxyAuthSent_);
  } else {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, nullptr);
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, nullptr);
  }
  // Server login: offered only to the scheme the server challenged for
  // (every scheme it takes before any challenge, which makes libcurl ask first).
  hostAuthSent_ = 0;
  if (!noAuth && r.HostLogin()) {
    hostAuthSent_ = AuthMask(r.hostChallenge_);
    curl_easy_setopt(e, CURLOPT_USERNAME, r.username_.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, r.password_.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, hostAuthSent_);
  } else {
    curl_easy_setopt(e, CURLOPT_USERNAME, nullptr);
    curl_easy_setopt(e, CURLOPT_PASSWORD, nullptr);
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
  }

  // Certificates: checked unless a flag relaxes exactly one check.
  uint32_t relax = r.security_ & (secIgnoreUnknownCA | secIgnoreCertDateInvalid | secIgnoreCertCNInvalid);
  if (r.flags_ & flIgnoreCertDateInvalid) relax |= secIgnoreCertDateInvalid;
  if (r.flags_ & flIgnoreCertCNInvalid) relax |= secIgnoreCertCNInvalid;
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, (relax & secIgnoreCertCNInvalid) ? 0L : 2L);
  curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, nullptr);
  InstallRelaxedVerify(e, relax);
  // A connection set up with relaxed checks must never serve a strict
  // request later, and no TLS session is resumed across that boundary.
  const bool fresh = !(r.flags_ & flKeepConnection) || relax != 0;
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, fresh ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_SSL_SESSIONID_CACHE, relax != 0 ? 0L : 1L);

  // Cookies live in the client's store; the engine is switched on per
  // handle.
  if (!(r.flags_ & flNoCookies)) {
    curl_easy_setopt(e, CURLOPT_SHARE, r.session_.Client().Backend().CookieShare());
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  }

  // Method and body.
  curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  if (!r.hasBody_) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (r.method_ == "HEAD")
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    else if (r.method_ != "GET")
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method_.c_str());
  } else {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    if (r.streaming_) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, nullptr);
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.uploadTotal_));
      curl_easy_setopt(e, CURLOPT_READFUNCTION, &TNetRequest::Impl::OnUpload);
      curl_easy_setopt(e, CURLOPT_READDATA, this);
    } else {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.postData_.size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.postData_.data());
    }
    if (r.method_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.method_.c_str());
  }

  // Header lines: libcurl's Accept replaced by ours, no "Expect", the cache
  // flags as request headers, then the caller's lines.
  curl_slist_free_all(slist_);
  slist_ = nullptr;
  auto add = [this](const std::string& line) {
    if (curl_slist* n = curl_slist_append(slist_, line.c_str())) slist_ = n;
  };
  add(r.accept_.empty() ? "Accept:" : "Accept: " + r.accept_);
  add("Expect:");
  if (r.flags_ & flPragmaNoCache) add("Pragma: no-cache");
  if (r.flags_ & flReload) add("Cache-Control: no-cache");
  for (const auto& h : r.headers_) add(h);
  for (const auto& h : r.sendHeaders_) add(h);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, slist_);
}

}  // namespace kelvora::net
