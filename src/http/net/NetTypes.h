// Numbers of the pull-style internet client: status notifications, header
// info levels, options, request flags and error kinds. The numeric values are
// those of the classic internet client library, so that callers written
// against it keep their meaning.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kelvora::net {

// Status notifications raised through the session's status callback.
enum : uint32_t {
  stResolvingName = 10,
  stNameResolved = 11,
  stConnectingToServer = 20,
  stConnectedToServer = 21,
  stSendingRequest = 30,
  stRequestSent = 31,
  stReceivingResponse = 40,
  stResponseReceived = 41,
  stClosingConnection = 50,
  stConnectionClosed = 51,
  stHandleCreated = 60,
  stHandleClosing = 70,
  stRequestComplete = 100,
  stRedirect = 110,
  stIntermediateResponse = 120,
  stStateChange = 200,
};

// Header info levels of TNetRequest::QueryInfo.
enum : uint32_t {
  qiContentType = 1,
  qiContentLength = 5,
  qiContentLanguage = 6,
  qiDate = 9,
  qiExpires = 10,
  qiLastModified = 11,
  qiStatusCode = 19,
  qiStatusText = 20,
  qiRawHeadersCRLF = 22,
  qiContentEncoding = 29,
  qiLocation = 33,
  qiWWWAuthenticate = 40,
  qiProxyAuthenticate = 41,
  qiConnection = 23,
  qiContentRange = 53,
  qiETag = 54,
};

// Options of TNetRequest::SetOption and TNetSession::QueryOption.
enum : uint32_t {
  optConnectTimeout = 2,
  optSendTimeout = 5,
  optReceiveTimeout = 6,
  optUsername = 28,
  optPassword = 29,
  optSecurityFlags = 31,
  optProxyUsername = 43,
  optProxyPassword = 44,
  optConnectedState = 50,
};

// Values of optSecurityFlags.
enum : uint32_t {
  secIgnoreUnknownCA = 0x100,
  secIgnoreCertCNInvalid = 0x1000,
  secIgnoreCertDateInvalid = 0x2000,
};

// Request flags of TNetRequest.
enum : uint32_t {
  flNeedFile = 0x10,
  flPragmaNoCache = 0x100,
  flHyperlink = 0x400,
  flResynchronize = 0x800,
  flIgnoreCertCNInvalid = 0x1000,
  flIgnoreCertDateInvalid = 0x2000,
  flIgnoreRedirectToHTTPS = 0x4000,
  flIgnoreRedirectToHTTP = 0x8000,
  flCacheIfNetFail = 0x10000,
  flNoAuth = 0x40000,
  flNoCookies = 0x80000,
  flNoAutoRedirect = 0x200000,
  flKeepConnection = 0x400000,
  flSecure = 0x800000,
  flNoCacheWrite = 0x4000000,
  flReload = 0x80000000,
};

// Session flags.
enum : uint32_t { sfOffline = 0x1000000 };

// Header modifiers of TNetRequest::AddHeaders.
enum : uint32_t { hmAdd = 0x20000000, hmReplace = 0x80000000 };

// Bit of optConnectedState: the user put the system offline.
enum : uint32_t { csOfflineByUser = 0x10 };

enum class TAccessType { Preconfig = 0, Direct = 1, Proxy = 3 };

// Why the last call of a handle failed.
enum class TNetError {
  None,
  Cancelled,        // the session was cancelled (from any thread)
  Timeout,          // a connect, send or receive time-out ran out
  Transport,        // the connection or the protocol failed; the back-end tells why
  ForceRetry,       // End(): the request must be sent again (authentication)
  RedirectRefused,  // a redirect from https to http was refused
  TooManyRedirects,
  Offline,          // the session works offline and nothing is cached
  InvalidState,     // the call does not fit the request's state
  BadUrl,
};

const char* NetErrorText(TNetError Error);

// Status callback: Context is the value given to the handle that raises the
// notification; Info points to Length bytes (a NUL-terminated text for
// names, addresses and the redirect target, Length counting the NUL).
using TStatusCallback =
    std::function<void(void* Context, uint32_t Status, const void* Info, uint32_t Length)>;

}  // namespace kelvora::net
