// TNetRequest over libcurl: what is left of a redirect's body before the
// next hop (the redirect rules themselves are shared).
#include "http/net/curl/NetRequestImpl.h"

namespace kelvora::net {

// Reads and drops a short redirect body so that its connection can serve the
// next request; a long one is cut off with its connection.
void TNetRequest::Impl::DrainForRedirect() {
  if (done_ || !attached_) return;
  discard_ = true;
  spillPos_ = spillEnd_ = 0;
  if (recvPaused_) Resume(true, false);
  const TNetError keep = r.error_;
  Wait([this] { return discarded_ > kRedirectDrainLimit; }, Phase::Receiving);
  r.error_ = keep;
  Detach();
}

}  // namespace kelvora::net
