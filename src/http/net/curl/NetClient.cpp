#include "http/net/curl/NetClientImpl.h"

#include <new>

namespace kelvora::net {

void EnsureCurlInitialised() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

TNetClient::TNetClient() : impl_(std::make_unique<Impl>()) {}

TNetClient::~TNetClient() = default;

TNetClient::Impl::Impl() {
  EnsureCurlInitialised();
  share_ = curl_share_init();
  if (share_ == nullptr) throw std::bad_alloc();
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Impl::Lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Impl::Unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

TNetClient::Impl::~Impl() {
  for (CURLM* m : idle_) curl_multi_cleanup(m);
  curl_share_cleanup(share_);
}

CURLM* TNetClient::Impl::AcquireMulti() {
  {
    std::lock_guard lk(mutex_);
    if (!idle_.empty()) {
      CURLM* m = idle_.back();
      idle_.pop_back();
      return m;
    }
  }
  CURLM* m = curl_multi_init();
  if (m == nullptr) throw std::bad_alloc();
  return m;
}

void TNetClient::Impl::ReleaseMulti(CURLM* Multi, bool Reusable) {
  if (Multi == nullptr) return;
  if (Reusable) {
    std::lock_guard lk(mutex_);
    if (idle_.size() < kMaxIdle) {
      idle_.push_back(Multi);
      return;
    }
  }
  curl_multi_cleanup(Multi);
}

void TNetClient::Impl::Lock(CURL*, curl_lock_data Data, curl_lock_access, void* User) {
  static_cast<Impl*>(User)->shareLocks_[Data].lock();
}

void TNetClient::Impl::Unlock(CURL*, curl_lock_data Data, void* User) {
  static_cast<Impl*>(User)->shareLocks_[Data].unlock();
}

}  // namespace kelvora::net
