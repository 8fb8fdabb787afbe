// The WinInet side of TNetRequest, used in WinInet's synchronous form on the
// calling thread.
//
// Each hop of a request (the first send, each redirect, each send again)
// gets a connection handle and a request handle of its own; redirects are
// followed here rather than by WinInet, so that every hop is checked as the
// libcurl layer checks it (scheme, count, where the login goes). The status
// notifications WinInet raises are passed on in the same shape the libcurl
// layer gives them: each network step once per hop, handle and connection
// closing raised by the request.
//
// The session's Cancel closes the handles, and every later call fails at
// once. A receive already blocked in WinInet returns when data comes or its
// time-out runs out (closing the handles does not wake it under Wine).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "http/net/NetRequest.h"

namespace kelvora::net {

struct TNetRequest::Impl {
  explicit Impl(TNetRequest& Owner) : r(Owner) {}

  // Longest header line WinInet hands over whole, in characters.
  static constexpr size_t kLineLimit = 4095;

  // The status callback of the session's internet handle; the context of
  // every handle a request opens is its Impl.
  static void CALLBACK OnStatusThunk(HINTERNET Handle, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length);

  bool Run();
  bool StartUpload();
  bool Write(const void* Data, size_t Count, size_t& Written);
  bool End();
  bool Read(void* Buffer, size_t Size, size_t& BytesRead);

  bool Open();
  void CloseHop();
  bool AddHopHeaders();
  bool ResponseIn();
  bool LoginAsked();
  bool CheckedAsAsked();
  bool FailSend(std::chrono::steady_clock::time_point Start);
  bool WaitForData(DWORD& Available);
  void OnStatus(DWORD Status, const void* Info, DWORD Length);
  bool FailLast();

  TNetRequest& r;

  bool loginSent_ = false;  // the server login went with the last hop
  bool proxyLoginSent_ = false;

  // The current hop.
  HINTERNET connect_ = nullptr, request_ = nullptr;
  std::string hopHost_;
  bool sending_ = false;  // notifications of the network steps pass now
  uint32_t seen_ = 0;     // which of them this hop has raised
  long newConnections_ = 0;
  bool used_ = false;

  // Body.
  bool ended_ = false;  // the body was read to its end
  bool lengthKnown_ = false;
  int64_t length_ = 0, received_ = 0;
  TNetError bodyError_ = TNetError::None;
  DWORD bodySystem_ = 0;
};

}  // namespace kelvora::net
