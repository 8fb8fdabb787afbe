// TNetRequest: sending (with a body, or an upload in blocks) and the loop
// that drives libcurl's multi handle on the calling thread.
#include "http/net/NetRequest.h"

#include <algorithm>
#include <cstring>

#include "http/net/curl/NetRequestText.h"

namespace kelvora::net {

bool TNetRequest::Send(const std::string& Headers, const void* Data, size_t Length) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = false;
  hasBody_ = Data != nullptr || method_ == "POST" || method_ == "PUT";
  postData_.assign(Data != nullptr ? static_cast<const char*>(Data) : "", Data != nullptr ? Length : 0);
  redirects_ = 0;
  return Run();
}

bool TNetRequest::SendEx(const std::string& Headers, int64_t TotalLength) {
  sendHeaders_ = SplitLines(Headers);
  streaming_ = true;
  hasBody_ = true;
  postData_.clear();
  uploadTotal_ = TotalLength < 0 ? 0 : TotalLength;
  redirects_ = 0;
  if (!Start()) return false;
  // Drive the request until libcurl asks for the body (or the server has
  // already answered, or the connection failed).
  if (!Wait([this] { return readWanted_ || headersFinal_; }, Phase::Sending)) return false;
  if (done_ && result_ != CURLE_OK && !resp_.HasStatus()) return FailCurl(result_);
  return true;
}

bool TNetRequest::Write(const void* Data, size_t Count, size_t& Written) {
  Written = 0;
  if (!streaming_ || easy_ == nullptr) return Fail(TNetError::InvalidState);
  if (done_) return result_ != CURLE_OK ? FailCurl(result_) : Fail(TNetError::InvalidState);
  src_ = static_cast<const uint8_t*>(Data);
  srcLeft_ = Count;
  if (sendPaused_) Resume(false, true);
  const bool ok = Wait([this] { return srcLeft_ == 0 || done_; }, Phase::Sending);
  Written = Count - srcLeft_;
  src_ = nullptr;
  srcLeft_ = 0;
  if (!ok) return false;
  if (Written == 0 && Count > 0) return done_ && result_ != CURLE_OK ? FailCurl(result_) : Fail(TNetError::InvalidState);
  return true;
}

bool TNetRequest::End() {
  if (!streaming_ || easy_ == nullptr) return Fail(TNetError::InvalidState);
  if (sent_ < uploadTotal_ && !headersFinal_ && !done_) {
    // The body is incomplete and the server still waits for it: give up
    // the request rather than wait for ever.
    Detach();
    return Fail(TNetError::InvalidState);
  }
  if (!Wait([this] { return headersFinal_; }, Phase::Receiving)) return false;
  if (!FinalHeaders()) return false;
  const int status = resp_.Status();
  if (!(flags_ & flNoAuth)) {
    if (status == 401 && HostLogin() && AuthMask(hostChallenge_) != hostAuthSent_) return Fail(TNetError::ForceRetry);
    if (status == 407 && !proxyUsername_.empty() && AuthMask(proxyChallenge_) != proxyAuthSent_)
      return Fail(TNetError::ForceRetry);
  }
  return true;
}

bool TNetRequest::Run() {
  for (;;) {
    if (!Start()) return false;
    if (!Wait([this] { return headersFinal_; }, Phase::Receiving)) return false;
    if (!FinalHeaders()) return false;
    const int r = FollowRedirect();
    if (r <= 0) return r == 0;
  }
}

// After a wait: true when the final response's headers are in.
bool TNetRequest::FinalHeaders() {
  if (headersFinal_) return true;
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  if (!resp_.Complete()) return FailCurl(done_ ? CURLE_GOT_NOTHING : CURLE_RECV_ERROR);
  headersFinal_ = true;
  return true;
}

bool TNetRequest::Start() {
  error_ = TNetError::None;
  curlCode_ = CURLE_OK;
  if (session_.Cancelled()) return Fail(TNetError::Cancelled);
  if (session_.Offline()) return Fail(TNetError::Offline);
  Detach();
  resp_.Clear();
  responseStarted_ = headersFinal_ = authPending_ = done_ = false;
  result_ = CURLE_OK;
  openedSocket_ = connected_ = false;
  spillPos_ = spillEnd_ = 0;
  recvPaused_ = sendPaused_ = false;
  discard_ = false;
  discarded_ = 0;
  bodyError_ = TNetError::None;
  src_ = nullptr;
  srcLeft_ = 0;
  sent_ = 0;
  readWanted_ = false;
  if (easy_ == nullptr) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) return FailCurl(CURLE_OUT_OF_MEMORY);
  }
  Configure();
  CURLM* multi = session_.Multi();
  if (curl_multi_add_handle(multi, easy_) != CURLM_OK) return FailCurl(CURLE_FAILED_INIT);
  attached_ = true;
  return true;
}

void TNetRequest::Detach() {
  if (attached_) {
    curl_multi_remove_handle(session_.Multi(), easy_);
    attached_ = false;
  }
}

void TNetRequest::Resume(bool Recv, bool Send) {
  if (Recv) recvPaused_ = false;
  if (Send) sendPaused_ = false;
  int mask = (recvPaused_ ? CURLPAUSE_RECV : 0) | (sendPaused_ ? CURLPAUSE_SEND : 0);
  // May deliver held-back data into the callbacks before it returns.
  curl_easy_pause(easy_, mask);
}

// Runs the transfer on this thread until Ready() holds, the transfer ended,
// the session was cancelled or a time-out ran out.
bool TNetRequest::Wait(const std::function<bool()>& Ready, Phase P) {
  activity_ = Clock::now();
  CURLM* multi = session_.Multi();
  for (;;) {
    if (session_.Cancelled()) return Fail(TNetError::Cancelled);
    if (attached_) {
      int running = 0;
      CURLMcode mc = curl_multi_perform(multi, &running);
      if (mc != CURLM_OK && mc != CURLM_CALL_MULTI_PERFORM) return FailCurl(CURLE_FAILED_INIT);
      CollectDone(multi);
    }
    if (Ready() || done_ || !attached_) return true;
    const uint32_t limit = !connected_ ? 0 : P == Phase::Sending ? sendTimeout_ : receiveTimeout_;
    int waitMs = 1000;
    if (limit != 0) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - activity_).count();
      if (idle >= limit) return Fail(TNetError::Timeout);
      waitMs = static_cast<int>(std::min<int64_t>(waitMs, limit - idle));
    }
    curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
  }
}

void TNetRequest::CollectDone(CURLM* Multi) {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(Multi, &left)) {
    if (msg->msg != CURLMSG_DONE || msg->easy_handle != easy_) continue;
    done_ = true;
    result_ = msg->data.result;
    if (authPending_ && resp_.Complete()) {
      authPending_ = false;
      headersFinal_ = true;
    }
  }
  if (done_) Detach();
}

size_t TNetRequest::OnUpload(char* Data, size_t Size, size_t Count, void* Self) {
  auto* r = static_cast<TNetRequest*>(Self);
  r->activity_ = Clock::now();
  r->readWanted_ = true;
  if (r->srcLeft_ == 0) {
    if (r->sent_ >= r->uploadTotal_) return 0;
    r->sendPaused_ = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t k = std::min(Size * Count, r->srcLeft_);
  std::memcpy(Data, r->src_, k);
  r->src_ += k;
  r->srcLeft_ -= k;
  r->sent_ += static_cast<int64_t>(k);
  return k;
}

}  // namespace kelvora::net
