// TNetRequest over libcurl: sending (with a body, or an upload in blocks) and the loop
// that drives libcurl's multi handle on the calling thread.
#include "http/net/curl/NetRequestImpl.h"

#include <algorithm>
#include <cstring>

#include "http/net/HeaderLines.h"
#include "http/net/curl/NetSessionImpl.h"

namespace kelvora::net {

bool TNetRequest::Impl::StartUpload() {
  if (!Start()) return false;
  // Drive the request until libcurl asks for the body (or the server has
  // already answered, or the connection failed).
  if (!Wait([this] { return readWanted_ || r.headersFinal_; }, Phase::Sending)) return false;
  if (done_ && result_ != CURLE_OK && !r.resp_.HasStatus()) return FailCurl(result_);
  return true;
}

bool TNetRequest::Impl::Write(const void* Data, size_t Count, size_t& Written) {
  Written = 0;
  if (!r.streaming_ || easy_ == nullptr) return r.Fail(TNetError::InvalidState);
  if (done_) return result_ != CURLE_OK ? FailCurl(result_) : r.Fail(TNetError::InvalidState);
  src_ = static_cast<const uint8_t*>(Data);
  srcLeft_ = Count;
  if (sendPaused_) Resume(false, true);
  const bool ok = Wait([this] { return srcLeft_ == 0 || done_; }, Phase::Sending);
  Written = Count - srcLeft_;
  src_ = nullptr;
  srcLeft_ = 0;
  if (!ok) return false;
  if (Written == 0 && Count > 0) return done_ && result_ != CURLE_OK ? FailCurl(result_) : r.Fail(TNetError::InvalidState);
  return true;
}

bool TNetRequest::Impl::End() {
  if (!r.streaming_ || easy_ == nullptr) return r.Fail(TNetError::InvalidState);
  if (r.sent_ < r.uploadTotal_ && !r.headersFinal_ && !done_) {
    // The body is incomplete and the server still waits for it: give up
    // the request rather than wait for ever.
    Detach();
    return r.Fail(TNetError::InvalidState);
  }
  if (!Wait([this] { return r.headersFinal_; }, Phase::Receiving)) return false;
  if (!FinalHeaders()) return false;
  const int status = r.resp_.Status();
  if (!(r.flags_ & flNoAuth)) {
    if (status == 401 && r.HostLogin() && AuthMask(r.hostChallenge_) != hostAuthSent_) return r.Fail(TNetError::ForceRetry);
    if (status == 407 && !r.proxyUsername_.empty() && AuthMask(r.proxyChallenge_) != proxyAuthSent_)
      return r.Fail(TNetError::ForceRetry);
  }
  return true;
}

bool TNetRequest::Impl::Run() {
  for (;;) {
    if (!Start()) return false;
    if (!Wait([this] { return r.headersFinal_; }, Phase::Receiving)) return false;
    if (!FinalHeaders()) return false;
    const int next = r.FollowRedirect();
    if (next <= 0) return next == 0;
  }
}

// After a wait: true when the final response's headers are in.
bool TNetRequest::Impl::FinalHeaders() {
  if (r.headersFinal_) return true;
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  if (!r.resp_.Complete()) return FailCurl(done_ ? CURLE_GOT_NOTHING : CURLE_RECV_ERROR);
  r.headersFinal_ = true;
  return true;
}

bool TNetRequest::Impl::Start() {
  r.error_ = TNetError::None;
  r.systemError_ = CURLE_OK;
  if (r.session_.Cancelled()) return r.Fail(TNetError::Cancelled);
  if (r.session_.Offline()) return r.Fail(TNetError::Offline);
  Detach();
  r.resp_.Clear();
  responseStarted_ = r.headersFinal_ = authPending_ = done_ = false;
  result_ = CURLE_OK;
  openedSocket_ = connected_ = false;
  spillPos_ = spillEnd_ = 0;
  recvPaused_ = sendPaused_ = false;
  discard_ = false;
  discarded_ = 0;
  bodyError_ = TNetError::None;
  src_ = nullptr;
  srcLeft_ = 0;
  r.sent_ = 0;
  readWanted_ = false;
  if (easy_ == nullptr) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) return FailCurl(CURLE_OUT_OF_MEMORY);
  }
  Configure();
  CURLM* multi = r.session_.Backend().Multi();
  if (curl_multi_add_handle(multi, easy_) != CURLM_OK) return FailCurl(CURLE_FAILED_INIT);
  attached_ = true;
  return true;
}

void TNetRequest::Impl::Detach() {
  if (attached_) {
    curl_multi_remove_handle(r.session_.Backend().Multi(), easy_);
    attached_ = false;
  }
}

void TNetRequest::Impl::Resume(bool Recv, bool Send) {
  if (Recv) recvPaused_ = false;
  if (Send) sendPaused_ = false;
  int mask = (recvPaused_ ? CURLPAUSE_RECV : 0) | (sendPaused_ ? CURLPAUSE_SEND : 0);
  // May deliver held-back data into the callbacks before it returns.
  curl_easy_pause(easy_, mask);
}

// Runs the transfer on this thread until Ready() holds, the transfer ended,
// the session was cancelled or a time-out ran out.
bool TNetRequest::Impl::Wait(const std::function<bool()>& Ready, Phase P) {
  activity_ = Clock::now();
  CURLM* multi = r.session_.Backend().Multi();
  for (;;) {
    if (r.session_.Cancelled()) return r.Fail(TNetError::Cancelled);
    if (attached_) {
      int running = 0;
      CURLMcode mc = curl_multi_perform(multi, &running);
      if (mc != CURLM_OK && mc != CURLM_CALL_MULTI_PERFORM) return FailCurl(CURLE_FAILED_INIT);
      CollectDone(multi);
    }
    if (Ready() || done_ || !attached_) return true;
    const uint32_t limit = !connected_ ? 0 : P == Phase::Sending ? r.sendTimeout_ : r.receiveTimeout_;
    int waitMs = 1000;
    if (limit != 0) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - activity_).count();
      if (idle >= limit) return r.Fail(TNetError::Timeout);
      waitMs = static_cast<int>(std::min<int64_t>(waitMs, limit - idle));
    }
    curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
}

void TNetRequest::Impl::CollectDone(CURLM* Multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(Multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    done_ = true;
    result_ = msg->data.result;
    if (authPending_ && r.resp_.Complete()) {
      authPending_ = false;
      r.headersFinal_ = true;
    }
  }
  if (done_) Detach();
}

size_t TNetRequest::Impl::OnUpload(char* Data, size_t Size, size_t Count, void* Self) {
  auto* m = static_cast<Impl*>(Self);
  m->activity_ = Clock::now();
  m->readWanted_ = true;
  if (m->srcLeft_ == 0) {
    if (m->r.sent_ >= m->r.uploadTotal_) return 0;
    m->sendPaused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t k = std::min(Size * Count, m->srcLeft_);
  std::memcpy(Data, m->src_, k);
  m->src_ += k;
  m->srcLeft_ -= k;
  m->r.sent_ += static_cast<int64_t>(k);
  return k;
}

}  // namespace kelvora::net
