// TNetRequest: one HTTP request of the pull-style internet client. Send
// returns when the headers of the final response are in, Read pulls the body
// block by block (0 bytes at its end), SendEx/Write/End upload a body in
// blocks, QueryInfo reads header values by info level (NetTypes.h).
//
// What both back-ends share (options, header lines, the response, where a
// login may go, the redirect rules) lives here; the back-end's transport
// lives in TNetRequest::Impl, defined by its side (curl/ or wininet/). Both
// raise the same status notifications.
//
// A request is used by one thread at a time. Only its session's Cancel may
// be called from elsewhere; it makes a blocking call return promptly.
#pragma once

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

  // Options (NetTypes.h): time-outs in milliseconds (0 = no limit of ours;
  // a receive time-out also sets the low-speed limit, see kLowSpeedLimit),
  // server and proxy login, security flags. The server login is offered only
  // while the request is at the scheme, host and port it was given for.
  bool SetOption(uint32_t Option, uint32_t Value);
  bool SetOption(uint32_t Option, const std::string& Value);

  // Adds header lines ("Name: value", separated by CR LF). With hmReplace a
  // header of the same name is replaced (an empty value removes it).
  bool AddHeaders(const std::string& Text, uint32_t Modifiers);

  // Sends the request (again, for a retry) with extra header lines for this
  // send and an optional body, and waits for the headers of the final
  // response: intermediate answers, redirects (unless flNoAutoRedirect) and
  // the back-end's own authentication rounds are passed through.
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
  // The back-end's error number behind the last failure (libcurl's code,
  // or WinInet's or the system's error).
  long SystemError() const { return systemError_; }
  std::string ErrorText() const;
  // Connections opened for the last send (0: an open one was reused).
  long NewConnections() const;
  // The address the last send went to (after redirects).
  const std::string& Url() const { return url_; }
  int Status() const { return resp_.Status(); }

  static constexpr size_t kQueryBufferSize = 4096;
  // Bytes a second a transfer must average over a receive time-out.
  static constexpr long kLowSpeedLimit = 100;
  static constexpr int kMaxRedirects = 10;

  // The back-end's part, defined, made and deleted by its side.
  struct Impl;
  struct ImplDelete {
    void operator()(Impl* P) const;
  };

 private:
  static Impl* NewImpl(TNetRequest& Self);
  // Back-end: sends and follows redirects; starts an upload; drops what is
  // left of a redirect's body before the next hop.
  bool Run();
  bool StartUpload();
  void DropRedirectBody();

  bool HostLogin() const;
  int FollowRedirect();
  // Raises the closing notifications; Used: the request went to a server,
  // Complete: its answer was read to the end without a failure.
  void NotifyClosing(bool Used, bool Complete);
  bool Fail(TNetError Error, long System = 0);

  std::shared_ptr<TNetConnection> connection_;
  TNetSession& session_;
  std::string method_, object_, referer_, accept_;
  uint32_t flags_;
  void* context_;
  std::string url_;

  // Options.
  uint32_t connectTimeout_ = 0, sendTimeout_ = 0, receiveTimeout_ = 0, security_ = 0;
  std::string username_, password_, proxyUsername_, proxyPassword_;
  std::string loginOrigin_;                     // "scheme://host:port" the server login is for
  std::string hostChallenge_, proxyChallenge_;  // the last 401's and 407's

  std::vector<std::string> headers_;      // kept across sends
  std::vector<std::string> sendHeaders_;  // this send only
  std::string postData_;
  bool hasBody_ = false;
  bool streaming_ = false;
  int64_t uploadTotal_ = 0, sent_ = 0;
  int redirects_ = 0;

  TResponseHeaders resp_;
  bool headersFinal_ = false;  // resp_ holds the final response's headers
  // Lower-case names of header lines the back-end got cut short: such a
  // header counts as absent rather than carry a wrong value.
  std::vector<std::string> cutHeaders_;

  TNetError error_ = TNetError::None;
  long systemError_ = 0;
  std::unique_ptr<Impl, ImplDelete> impl_;
};

}  // namespace kelvora::net
