// TNetRequest over libcurl: the body hand-over. libcurl pushes, the caller pulls a block
// at a time; what arrives beyond the block waits in the hold-back buffer.
#include "http/net/curl/NetRequestImpl.h"

#include <algorithm>
#include <cstring>

namespace kelvora::net {

bool TNetRequest::Impl::Read(void* Buffer, size_t Size, size_t& BytesRead) {
  BytesRead = 0;
  if (easy_ == nullptr || !r.headersFinal_) return r.Fail(TNetError::InvalidState);
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
      bodyError_ = r.error_;
      bodyCurl_ = r.systemError_;
      if (n == 0) return false;
      r.error_ = TNetError::None;
    }
  }
  BytesRead = n;
  if (n > 0) return true;
  if (bodyError_ != TNetError::None) {
    r.error_ = bodyError_;
    r.systemError_ = bodyCurl_;
    return false;
  }
  if (done_ && result_ != CURLE_OK) return FailCurl(result_);
  r.error_ = TNetError::None;
  return true;
}

// Grows the hold-back buffer to hold Needed bytes from its start, moving what
// it holds to the front. It starts small and grows by doubling up to
// kHoldBack, so a short body costs a small allocation, not kHoldBack
// zeroed bytes.
void TNetRequest::Impl::ReserveSpill(size_t Needed) {
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

size_t TNetRequest::Impl::OnBody(char* Data, size_t Size, size_t Count, void* Self) {
  auto* m = static_cast<Impl*>(Self);
  const size_t len = Size * Count;
  m->activity_ = Clock::now();
  if (m->authPending_) {
    m->authPending_ = false;
    m->r.headersFinal_ = true;
  }
  if (m->discard_) {
    m->discarded_ += len;
    return len;
  }
  size_t k = 0;
  if (m->dest_ != nullptr && m->destFill_ < m->destRoom_ && m->spillPos_ == m->spillEnd_) {
    k = std::min(len, m->destRoom_ - m->destFill_);
    std::memcpy(m->dest_ + m->destFill_, Data, k);
    m->destFill_ += k;
  }
  const size_t rest = len - k;
  if (rest == 0) return len;
  if (m->spillEnd_ + rest > kHoldBack && m->spillPos_ > 0) {
    std::memmove(m->spill_.get(), m->spill_.get() + m->spillPos_, m->spillEnd_ - m->spillPos_);
    m->spillEnd_ -= m->spillPos_;
    m->spillPos_ = 0;
  }
  if (m->spillEnd_ + rest > kHoldBack && k == 0) {
    // Nothing of this chunk was taken (the caller's block is full, or the
    // held-back bytes come first): libcurl keeps it until resumed.
    m->recvPaused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  // With room in the block the buffer is empty, so what is left of a chunk
  // fits; should a chunk ever be larger, every byte is kept all the same.
  m->ReserveSpill(m->spillEnd_ + rest);
  std::memcpy(m->spill_.get() + m->spillEnd_, Data + k, rest);
  m->spillEnd_ += rest;
  return len;
}

}  // namespace kelvora::net
