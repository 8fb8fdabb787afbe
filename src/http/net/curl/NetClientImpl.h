// The libcurl side of TNetClient: idle multi handles, whose connection and
// name caches let consecutive transfers to the same host reuse their
// connections, and a cookie store shared by every request made through it.
#pragma once

#include <mutex>
#include <vector>

#include <curl/curl.h>

#include "http/net/NetClient.h"

namespace kelvora::net {

struct TNetClient::Impl {
  Impl();
  ~Impl();

  // A multi handle for one session: an idle one with its open connections
  // when there is one, else a fresh one. Never returns null.
  CURLM* AcquireMulti();
  // Gives a multi handle back. Reusable handles keep their connections for
  // the next session; others (a cancelled session's) are cleaned up.
  void ReleaseMulti(CURLM* Multi, bool Reusable);
  // Cookie store for easy handles (CURLOPT_SHARE).
  CURLSH* CookieShare() const { return share_; }

  // How many idle multi handles are kept at most.
  static constexpr size_t kMaxIdle = 2;

 private:
  static void Lock(CURL*, curl_lock_data Data, curl_lock_access, void* User);
  static void Unlock(CURL*, curl_lock_data Data, void* User);

  std::mutex mutex_;
  std::vector<CURLM*> idle_;
  CURLSH* share_ = nullptr;
  std::mutex shareLocks_[CURL_LOCK_DATA_LAST];
};

// Initialises libcurl once per process.
void EnsureCurlInitialised();

}  // namespace kelvora::net
