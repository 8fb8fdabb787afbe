// One HTTP request of the pull-style internet client over WinInet, used in
// its synchronous form on the calling thread.
//
// Each hop of a request (the first send, each redirect, each send again)
// gets a connection handle and a request handle of its own; redirects are
// followed here rather than by WinInet, so that every hop is checked as the
// libcurl layer checks it (scheme, count, where the login goes). The status
// notifications WinInet raises are passed on in the same shape the libcurl
// layer gives them: each network step once per hop, handle and connection
// closing raised by this class.
//
// A request is used by one thread at a time. Only its session's Cancel may
// be called from elsewhere; it closes the handles, and every later call fails
// at once. A receive already blocked in WinInet returns when data comes or
// its time-out runs out (closing the handles does not wake it under Wine).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/net/NetSession.h"
#include "http/net/NetTypes.h"
#include "http/net/ResponseHeaders.h"

namespace kelvora::net {

class TNetRequest {
 public:
  // Object is the path with its (already encoded) query; characters that may
  // not appear in a request target (blanks, controls, bytes from 0x80) are
  // escaped. Flags are the fl* request flags.
  TNetRequest(std::shared_ptr<TNetConnection> Connection, std::string Method, std::string Object,
              std::string Referer, std::string AcceptTypes, uint32_t Flags, void* Context);
  ~TNetRequest();
  TNetRequest(const TNetRequest&) = delete;
  TNetRequest& operator=(const TNetRequest&) = delete;

  // Options (NetTypes.h): time-outs in milliseconds (0 keeps WinInet's own),
  // server and proxy login, security flags. The server login is offered only
  // while the request is at the scheme, host and port it was given for, and
  // only to a Basic challenge (this layer answers no other scheme).
  bool SetOption(uint32_t Option, uint32_t Value);
  bool SetOption(uint32_t Option, const std::string& Value);

  // Adds header lines ("Name: value", separated by CR LF). With hmReplace a
  // header of the same name is replaced (an empty value removes it).
  bool AddHeaders(const std::string& Text, uint32_t Modifiers);

  // Sends the request (again, for a retry) with extra header lines for this
  // send and an optional body, and waits for the headers of the final
  // response (redirects followed unless flNoAutoRedirect).
  bool Send(const std::string& Headers, const void* Data, size_t Length);

  // Upload in blocks: SendEx starts the request with a body of TotalLength
  // bytes, Write hands over the next block, End waits for the response. End
  // fails with TNetError::ForceRetry when the server asked for a login the
  // request can now give: the caller then sends again.
  bool SendEx(const std::string& Headers, int64_t TotalLength);
  bool Write(const void* Data, size_t Count, size_t& Written);
  bool End();

  // Value of an info level of the final response, if it fits a buffer of
  // BufferSize bytes including the terminating NUL.
  bool QueryInfo(uint32_t Level, std::string& Value, size_t BufferSize = kQueryBufferSize) const;

  // Fills Buffer with up to Size bytes of the body, waiting until it is full
  // or the body has ended. BytesRead 0 with true means the end of the body;
  // false means the transfer failed (LastError, SystemError).
  bool Read(void* Buffer, size_t Size, size_t& BytesRead);

  TNetError LastError() const { return error_; }
  // WinInet's or the system's error number behind the last failure.
  DWORD SystemError() const { return systemError_; }
  std::string ErrorText() const;
  // Connections opened for the last send (0: an open one was reused).
  long NewConnections() const { return newConnections_; }
  // The address the last send went to (after redirects).
  const std::string& Url() const { return url_; }
  int Status() const { return resp_.Status(); }

  static constexpr size_t kQueryBufferSize = 4096;
  static constexpr int kMaxRedirects = 10;
  // Longest header line WinInet hands over whole, in characters.
  static constexpr size_t kLineLimit = 4095;

  // The status callback of the session's internet handle; the context of
  // every handle a request opens is the request.
  static void CALLBACK OnStatusThunk(HINTERNET Handle, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length);

 private:
  bool Run();
  bool Open();
  void CloseHop();
  bool AddHopHeaders();
  bool ResponseIn();
  bool LoginAsked();
  bool CheckedAsAsked();
  bool FailSend(std::chrono::steady_clock::time_point Start);
  bool WaitForData(DWORD& Available);
  int FollowRedirect();
  bool HostLogin() const;
  void OnStatus(DWORD Status, const void* Info, DWORD Length);
  bool Fail(TNetError Error, DWORD System = 0);
  bool FailLast();

  std::shared_ptr<TNetConnection> connection_;
  TNetSession& session_;
  std::string method_, object_, referer_, accept_;
  uint32_t flags_;
  void* context_;
  std::string url_;

  // Options.
  uint32_t connectTimeout_ = 0, sendTimeout_ = 0, receiveTimeout_ = 0, security_ = 0;
  std::string username_, password_, proxyUsername_, proxyPassword_;
  std::string loginOrigin_;  // "scheme://host:port" the server login is for
  bool loginSent_ = false;   // the server login went with the last hop
  bool proxyLoginSent_ = false;
  std::string hostChallenge_, proxyChallenge_;  // the last 401's and 407's

  std::vector<std::string> headers_;      // kept across sends
  std::vector<std::string> sendHeaders_;  // this send only
  std::string postData_;
  bool hasBody_ = false;
  bool streaming_ = false;
  int64_t uploadTotal_ = 0, sent_ = 0;
  int redirects_ = 0;

  // The current hop.
  HINTERNET connect_ = nullptr, request_ = nullptr;
  std::string hopHost_;
  bool sending_ = false;  // notifications of the network steps pass now
  uint32_t seen_ = 0;     // which of them this hop has raised
  long newConnections_ = 0;
  bool used_ = false;

  // Response and body.
  TResponseHeaders resp_;
  std::vector<std::string> cutHeaders_;  // lower-case names of cut lines
  bool headersFinal_ = false;
  bool ended_ = false;  // the body was read to its end
  bool lengthKnown_ = false;
  int64_t length_ = 0, received_ = 0;
  TNetError bodyError_ = TNetError::None;
  DWORD bodySystem_ = 0;

  TNetError error_ = TNetError::None;
  DWORD systemError_ = 0;
};

}  // namespace kelvora::net
