// TNetRequest: the body hand-over. libcurl pushes, the caller pulls a block
// at a time; what arrives beyond the block waits in the hold-back buffer.
#include "http/net/NetRequest.h"

#include <algorithm>
#include <cstring>

namespace kelvora::net {

bool TNetRequest::Read(void* Buffer, size_t Size, size_t& BytesRead) {
  BytesRead = 0;
  if (easy_ == nullptr || !headersFinal_) return Fail(TNetError::InvalidState);
  auto* out = static_cast<uint8_t*>(Buffer);
  size_t n = 0;
  if (spillPos_ < spillEnd_) {
    n = std::min(Size, spillEnd_ - spillPos_);
    std::memcpy(out, spill_.get() + spillPos_, n);
    spillPos_ += n;
    if (spillPos_ == spillEnd_) spillPos_ = spillEnd_ = 0;
  }
  if (n < Size && bodyError_ == TNetError::None && !done_) {
    dest_ = out;
    destRoom_ = Size;
    destFill_ = n;
    // Resumed only once the held-back bytes are gone, so that what libcurl
    // kept while paused fits again.
    if (recvPaused_ && spillPos_ == spillEnd_) Resume(true, false);
    const bool ok = Wait([this] { return destFill_ >= destRoom_; }, Phase::Receiving);
    n = destFill_;
    dest_ = nullptr;
    destRoom_ = destFill_ = 0;
    if (!ok) {
      // Hand out what arrived; the failure comes with the next call.
      bodyError_ = error_;
      bodyCurl_ = curlCode_;
      if (n == 0) return false;
      error_ = TNetError::None;
    }
  }
  BytesRead = n;
  if (n > 0) return true;
  if (bodyError_ != TNetError::None) {
    error_ = bodyError_;
    curlCode_ = bodyCurl_;
    return false;
  }
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  error_ = TNetError::None;
  return true;
}

// Grows the hold-back buffer to hold Needed bytes from its start, moving what
// it holds to the front. It starts small and grows by doubling up to
// kHoldBack, so a short body costs a small allocation, not kHoldBack
// zeroed bytes.
void TNetRequest::ReserveSpill(size_t Needed) {
  if (Needed <= spillCap_) return;
  size_t cap = std::max(spillCap_ * 2, kSpillStart);
  cap = std::max(std::min(cap, kHoldBack), Needed);
  std::unique_ptr<uint8_t[]> grown(new uint8_t[cap]);
  if (spillEnd_ > spillPos_) std::memcpy(grown.get(), spill_.get() + spillPos_, spillEnd_ - spillPos_);
  spillEnd_ -= spillPos_;
  spillPos_ = 0;
  spill_ = std::move(grown);
  spillCap_ = cap;
}

size_t TNetRequest::OnBody(char* Data, size_t Size, size_t Count, void* Self) {
  auto* r = static_cast<TNetRequest*>(Self);
  const size_t len = Size * Count;
  r->activity_ = Clock::now();
  if (r->authPending_) {
    r->authPending_ = false;
    r->headersFinal_ = true;
  }
  if (r->discard_) {
    r->discarded_ += len;
    return len;
  }
  size_t k = 0;
  if (r->dest_ != nullptr && r->destFill_ < r->destRoom_ && r->spillPos_ == r->spillEnd_) {
    k = std::min(len, r->destRoom_ - r->destFill_);
    std::memcpy(r->dest_ + r->destFill_, Data, k);
    r->destFill_ += k;
  }
  const size_t rest = len - k;
  if (rest == 0) return len;
  if (r->spillEnd_ + rest > kHoldBack && r->spillPos_ > 0) {
    std::memmove(r->spill_.get(), r->spill_.get() + r->spillPos_, r->spillEnd_ - r->spillPos_);
    r->spillEnd_ -= r->spillPos_;
    r->spillPos_ = 0;
  }
  if (r->spillEnd_ + rest > kHoldBack && k == 0) {
    // Nothing of this chunk was taken (the caller's block is full, or the
    // held-back bytes come first): libcurl keeps it until resumed.
    r->recvPaused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  // With room in the block the buffer is empty, so what is left of a chunk
  // fits; should a chunk ever be larger, every byte is kept all the same.
  r->ReserveSpill(r->spillEnd_ + rest);
  std::memcpy(r->spill_.get() + r->spillEnd_, Data + k, rest);
  r->spillEnd_ += rest;
  return len;
}

}  // namespace kelvora::net
