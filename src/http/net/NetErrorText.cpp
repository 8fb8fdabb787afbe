#include "http/net/NetTypes.h"

namespace kelvora::net {

const char* NetErrorText(TNetError Error) {
  switch (Error) {
    case TNetError::None: return "no error";
    case TNetError::Cancelled: return "the operation was cancelled";
    case TNetError::Timeout: return "the operation timed out";
    case TNetError::Transport: return "transfer error";
    case TNetError::ForceRetry: return "the request must be sent again";
    case TNetError::RedirectRefused: return "redirect from https to http refused";
    case TNetError::TooManyRedirects: return "too many redirects";
    case TNetError::Offline: return "working offline: the resource is not cached";
    case TNetError::InvalidState: return "the handle is in the wrong state for this call";
    case TNetError::BadUrl: return "the address cannot be used";
  }
  return "unknown error";
}

}  // namespace kelvora::net
