// TNetClient: what one user of the internet client (one HTTP component)
// keeps across its transfers: open connections for reuse and cookies. What
// that takes is the back-end's own (curl/ or wininet/, chosen by the build).
#pragma once

#include <memory>

namespace kelvora::net {

class TNetClient {
 public:
  TNetClient();
  ~TNetClient();
  TNetClient(const TNetClient&) = delete;
  TNetClient& operator=(const TNetClient&) = delete;

  // The back-end's part, defined by its side.
  struct Impl;
  Impl& Backend() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kelvora::net
