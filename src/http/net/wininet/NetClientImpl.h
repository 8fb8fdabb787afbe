// The client of one user of the internet client (one HTTP component) over
// WinInet. WinInet keeps open connections and cookies per process itself,
// so the client holds nothing; it exists so that both back-ends share one
// shape.
#pragma once

namespace kelvora::net {

class TNetClient {
 public:
  TNetClient() = default;
  TNetClient(const TNetClient&) = delete;
  TNetClient& operator=(const TNetClient&) = delete;
};

}  // namespace kelvora::net
