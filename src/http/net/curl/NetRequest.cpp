// TNetRequest over libcurl: the back-end's entry points, the origin and
// resolution of addresses with libcurl's URL parser, and errors. Driving
// libcurl, its set-up, the body hand-over and the callbacks have files of
// their own (NetRequest*.cpp).
#include "http/net/curl/NetRequestImpl.h"

#include "http/net/HeaderLines.h"

namespace kelvora::net {

std::string OriginOf(const std::string& Url) {
  CURLU* u = curl_url();
  if (u == nullptr) return {};
  std::string origin;
  if (curl_url_set(u, CURLUPART_URL, Url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
    char *scheme = nullptr, *host = nullptr, *port = nullptr;
    if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
      origin = std::string(scheme) + "://" + host + ":" + port;
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
  }
  curl_url_cleanup(u);
  return Lower(origin);
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

TNetRequest::Impl* TNetRequest::NewImpl(TNetRequest& Self) { return new Impl(Self); }

void TNetRequest::ImplDelete::operator()(Impl* P) const { delete P; }

TNetRequest::Impl::~Impl() {
  if (easy_ != nullptr) curl_easy_cleanup(easy_);
  curl_slist_free_all(slist_);
}

TNetRequest::~TNetRequest() {
  Impl& m = *impl_;
  const bool used = m.easy_ != nullptr && (m.attached_ || m.done_);
  m.Detach();
  NotifyClosing(used, m.done_ && m.result_ == CURLE_OK);
}

bool TNetRequest::Run() { return impl_->Run(); }
bool TNetRequest::StartUpload() { return impl_->StartUpload(); }
bool TNetRequest::Write(const void* Data, size_t Count, size_t& Written) { return impl_->Write(Data, Count, Written); }
bool TNetRequest::End() { return impl_->End(); }
bool TNetRequest::Read(void* Buffer, size_t Size, size_t& BytesRead) { return impl_->Read(Buffer, Size, BytesRead); }
void TNetRequest::DropRedirectBody() { impl_->DrainForRedirect(); }

bool TNetRequest::Impl::FailCurl(CURLcode Code) { return r.Fail(TNetError::Transport, Code); }

std::string TNetRequest::ErrorText() const {
  if (error_ != TNetError::Transport) return NetErrorText(error_);
  std::string s = curl_easy_strerror(static_cast<CURLcode>(systemError_));
  if (impl_->errorBuffer_[0] != 0) s += std::string(": ") + impl_->errorBuffer_;
  return s;
}

long TNetRequest::NewConnections() const {
  long n = 0;
  if (impl_->easy_ != nullptr) curl_easy_getinfo(impl_->easy_, CURLINFO_NUM_CONNECTS, &n);
  return n;
}

}  // namespace kelvora::net
