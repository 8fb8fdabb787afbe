#include <windows.h>
#include <wininet.h>

#include "http/NetTestUtil.h"

namespace kvtest {

TFailure FailureOf(const kelvora::net::TNetRequest& Request) {
  using kelvora::net::TNetError;
  if (Request.LastError() == TNetError::None) return TFailure::None;
  if (Request.LastError() != TNetError::Transport) return TFailure::Other;
  switch (Request.SystemError()) {
    case ERROR_INTERNET_CONNECTION_RESET: return TFailure::PartialBody;
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: return TFailure::NoResponse;
    case ERROR_HTTP_INVALID_HEADER: return TFailure::NotHttp;
    case ERROR_INTERNET_CANNOT_CONNECT: return TFailure::CannotConnect;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return TFailure::Certificate;
    default: return TFailure::Other;
  }
}

}  // namespace kvtest
