// The libcurl side of TNetSession: the multi handle its requests are driven
// by, taken from the client on first use and given back at the end.
#pragma once

#include <mutex>

#include <curl/curl.h>

#include "http/net/NetSession.h"

namespace kelvora::net {

struct TNetSession::Impl {
  explicit Impl(TNetSession& Owner) : s(Owner) {}
  ~Impl();
  CURLM* Multi();

  TNetSession& s;
  std::mutex mutex;  // keeps multi alive while Cancel wakes it
  CURLM* multi = nullptr;
};

}  // namespace kelvora::net
