// One HTTP request of the pull-style internet client, over a libcurl easy
// handle driven by the session's multi handle on the calling thread.
//
// libcurl pushes data through callbacks; this class turns that into blocking
// pull calls: Send returns when the headers of the final response are in,
// Read fills the caller's block (and returns 0 bytes at the end of the body),
// Write hands one block of an upload over. What arrives beyond the caller's
// block is held back in a buffer of up to kHoldBack bytes (it grows as a
// body needs, so a short body costs little); when that is full the
// transfer is paused and resumed by a later Read, so memory does not grow
// with the body. (Pausing libcurl is not cheap, hence a buffer of many
// blocks rather than one.)
//
// A request is used by one thread at a time. Only its session's Cancel may
// be called from elsewhere; it makes a blocking call return promptly.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <curl/curl.h>

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
  // libcurl's own authentication rounds are passed through.
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
  // false means the transfer failed (LastError, CurlCode).
  bool Read(void* Buffer, size_t Size, size_t& BytesRead);

  TNetError LastError() const { return error_; }
  CURLcode CurlCode() const { return curlCode_; }
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
  static constexpr size_t kHoldBack = 256 * 1024;
  // First size of the hold-back buffer; it doubles as a body needs.
  static constexpr size_t kSpillStart = 32 * 1024;
  // Most bytes of a redirect's body read and dropped to keep its connection.
  static constexpr size_t kRedirectDrainLimit = 65536;

 private:
  enum class Phase { Sending, Receiving };
  using Clock = std::chrono::steady_clock;

  bool Run();
  bool Start();
  void Configure();
  void Detach();
  bool Wait(const std::function<bool()>& Ready, Phase P);
  void CollectDone(CURLM* Multi);
  bool FinalHeaders();
  int FollowRedirect();
  void DrainForRedirect();
  void Resume(bool Recv, bool Send);
  void ReserveSpill(size_t Needed);
  long AuthMask(const std::string& Challenge) const;
  bool HostLogin() const;
  bool Fail(TNetError Error);
  bool FailCurl(CURLcode Code);

  static size_t OnHeader(char* Data, size_t Size, size_t Count, void* Self);
  static size_t OnBody(char* Data, size_t Size, size_t Count, void* Self);
  static size_t OnUpload(char* Data, size_t Size, size_t Count, void* Self);
  static curl_socket_t OnOpenSocket(void* Self, curlsocktype Purpose, struct curl_sockaddr* Address);
  static int OnPrereq(void* Self, char* PrimaryIp, char* LocalIp, int PrimaryPort, int LocalPort);

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

  std::vector<std::string> headers_;      // kept across sends
  std::vector<std::string> sendHeaders_;  // this send only
  std::string postData_;
  bool hasBody_ = false;
  bool streaming_ = false;
  int64_t uploadTotal_ = 0;
  int redirects_ = 0;

  CURL* easy_ = nullptr;
  curl_slist* slist_ = nullptr;
  bool attached_ = false;
  char errorBuffer_[CURL_ERROR_SIZE] = {};

  // Response state of the current send.
  TResponseHeaders resp_;
  bool responseStarted_ = false;
  bool headersFinal_ = false;
  bool authPending_ = false;  // a 401/407 that libcurl may answer itself
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool openedSocket_ = false;
  bool connected_ = false;
  std::string hostChallenge_, proxyChallenge_;
  long hostAuthSent_ = 0, proxyAuthSent_ = 0;

  // Body hand-over.
  uint8_t* dest_ = nullptr;
  size_t destRoom_ = 0, destFill_ = 0;
  std::unique_ptr<uint8_t[]> spill_;  // grows up to kHoldBack bytes as needed
  size_t spillCap_ = 0;
  size_t spillPos_ = 0, spillEnd_ = 0;
  bool recvPaused_ = false, sendPaused_ = false;
  bool discard_ = false;
  size_t discarded_ = 0;
  TNetError bodyError_ = TNetError::None;
  CURLcode bodyCurl_ = CURLE_OK;

  // Upload hand-over.
  const uint8_t* src_ = nullptr;
  size_t srcLeft_ = 0;
  int64_t sent_ = 0;
  bool readWanted_ = false;

  Clock::time_point activity_;
  TNetError error_ = TNetError::None;
  CURLcode curlCode_ = CURLE_OK;
};

}  // namespace kelvora::net
