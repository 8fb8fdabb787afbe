#include <curl/curl.h>

#include "http/NetTestUtil.h"

namespace kvtest {

TFailure FailureOf(const kelvora::net::TNetRequest& Request) {
  using kelvora::net::TNetError;
  if (Request.LastError() == TNetError::None) return TFailure::None;
  if (Request.LastError() != TNetError::Transport) return TFailure::Other;
  switch (static_cast<CURLcode>(Request.SystemError())) {
    case CURLE_PARTIAL_FILE: return TFailure::PartialBody;
    case CURLE_GOT_NOTHING: return TFailure::NoResponse;
    case CURLE_UNSUPPORTED_PROTOCOL: return TFailure::NotHttp;
    case CURLE_COULDNT_CONNECT: return TFailure::CannotConnect;
    case CURLE_PEER_FAILED_VERIFICATION: return TFailure::Certificate;
    default: return TFailure::Other;
  }
}

}  // namespace kvtest
