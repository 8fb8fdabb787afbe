// The libcurl side of TNetRequest: an easy handle driven by the session's
// multi handle on the calling thread.
//
// libcurl pushes data through callbacks; this turns that into blocking pull
// calls: Send returns when the headers of the final response are in, Read
// fills the caller's block (and returns 0 bytes at the end of the body),
// Write hands one block of an upload over. What arrives beyond the caller's
// block is held back in a buffer of up to kHoldBack bytes (it grows as a
// body needs, so a short body costs little); when that is full the
// transfer is paused and resumed by a later Read, so memory does not grow
// with the body. (Pausing libcurl is not cheap, hence a buffer of many
// blocks rather than one.)
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include <curl/curl.h>

#include "http/net/NetRequest.h"

namespace kelvora::net {

struct TNetRequest::Impl {
  explicit Impl(TNetRequest& Owner) : r(Owner) {}
  ~Impl();

  static constexpr size_t kHoldBack = 256 * 1024;
  // First size of the hold-back buffer; it doubles as a body needs.
  static constexpr size_t kSpillStart = 32 * 1024;
  // Most bytes of a redirect's body read and dropped to keep its connection.
  static constexpr size_t kRedirectDrainLimit = 65536;

  enum class Phase { Sending, Receiving };
  using Clock = std::chrono::steady_clock;

  bool Run();
  bool StartUpload();
  bool Write(const void* Data, size_t Count, size_t& Written);
  bool End();
  bool Read(void* Buffer, size_t Size, size_t& BytesRead);
  void DrainForRedirect();

  bool Start();
  void Configure();
  void Detach();
  bool Wait(const std::function<bool()>& Ready, Phase P);
  void CollectDone(CURLM* Multi);
  bool FinalHeaders();
  void Resume(bool Recv, bool Send);
  void ReserveSpill(size_t Needed);
  long AuthMask(const std::string& Challenge) const;
  bool FailCurl(CURLcode Code);

  static size_t OnHeader(char* Data, size_t Size, size_t Count, void* Self);
  static size_t OnBody(char* Data, size_t Size, size_t Count, void* Self);
  static size_t OnUpload(char* Data, size_t Size, size_t Count, void* Self);
  static curl_socket_t OnOpenSocket(void* Self, curlsocktype Purpose, struct curl_sockaddr* Address);
  static int OnPrereq(void* Self, char* PrimaryIp, char* LocalIp, int PrimaryPort, int LocalPort);

  TNetRequest& r;

  CURL* easy_ = nullptr;
  curl_slist* slist_ = nullptr;
  bool attached_ = false;
  char errorBuffer_[CURL_ERROR_SIZE] = {};

  // Response state of the current send.
  bool responseStarted_ = false;
  bool authPending_ = false;  // a 401/407 that libcurl may answer itself
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool openedSocket_ = false;
  bool connected_ = false;
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
  long bodyCurl_ = CURLE_OK;

  // Upload hand-over.
  const uint8_t* src_ = nullptr;
  size_t srcLeft_ = 0;
  bool readWanted_ = false;

  Clock::time_point activity_;
};

}  // namespace kelvora::net
