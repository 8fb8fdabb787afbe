// TNetSession over libcurl: the multi handle, Cancel and the connected
// state.
#include "http/net/curl/NetSessionImpl.h"

#include "http/net/curl/NetClientImpl.h"

namespace kelvora::net {

TNetSession::Impl* TNetSession::NewImpl(TNetSession& Self) {
  EnsureCurlInitialised();
  return new Impl(Self);
}

void TNetSession::ImplDelete::operator()(Impl* P) const { delete P; }

TNetSession::Impl::~Impl() {
  CURLM* m;
  {
    std::lock_guard lk(mutex);
    m = multi;
    multi = nullptr;
  }
  s.Client().Backend().ReleaseMulti(m, !s.Cancelled());
}

CURLM* TNetSession::Impl::Multi() {
  std::lock_guard lk(mutex);
  if (multi == nullptr) multi = s.Client().Backend().AcquireMulti();
  return multi;
}

void TNetSession::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  std::lock_guard lk(impl_->mutex);
  if (impl_->multi != nullptr) curl_multi_wakeup(impl_->multi);
}

// This system has no offline state chosen by the user, so the value is 0
// (connected) unless the session itself works offline.
bool TNetSession::QueryOption(uint32_t Option, uint32_t& Value) const {
  if (Option != optConnectedState) return false;
  Value = 0;
  return true;
}

}  // namespace kelvora::net
