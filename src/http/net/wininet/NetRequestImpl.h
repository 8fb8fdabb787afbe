// The WinInet side of TNetRequest, over WinInet's asynchronous mode.
//
// Each hop of a request (the first send, each redirect, each send again)
// gets a connection handle and a request handle of its own; redirects are
// followed here rather than by WinInet, so that every hop is checked as the
// libcurl layer checks it (scheme, count, where the login goes).
//
// A call that has to wait returns at once with ERROR_IO_PENDING, and
// WinInet completes it on a thread of its own through the status callback.
// The calling thread waits for that completion, for the session's cancel
// event and for its own time limits, so an abort, a cancel or the end of the
// component wakes it at once; a receive that stays short of kLowSpeedLimit
// bytes a second over a whole receive time-out ends as a time-out.
//
// What WinInet may still touch after the caller gave up (the buffers of a
// pending read or write, the body of a pending send, the completion record)
// lives in TAsyncState, which the request and every open handle hold a
// reference to; the last handle's closing notification frees it. The status
// notifications are queued there and raised on the calling thread, in the
// same shape the libcurl layer gives them: each network step once per hop,
// handle and connection closing raised by the request.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "http/net/NetRequest.h"

namespace kelvora::net {

struct TAsyncState {
  TAsyncState();
  ~TAsyncState();
  void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
  void Release();

  struct TNote {
    DWORD Status;
    std::string Text;
  };

  std::atomic<long> refs{1};
  HANDLE done;  // auto-reset: set when `completed` is
  std::mutex mutex;
  HINTERNET current = nullptr;  // the handle whose completion is awaited
  bool completed = false;       // ... and it came
  DWORD_PTR result = 0;
  DWORD error = 0;
  std::vector<TNote> notes;
  // Owned here, as WinInet may fill or read them after the caller left.
  std::vector<uint8_t> buffer;
  DWORD count = 0, available = 0;
  std::string post;
};

struct TNetRequest::Impl {
  explicit Impl(TNetRequest& Owner);
  ~Impl();

  using Clock = std::chrono::steady_clock;
  enum class TWait { Done, Cancelled, TimedOut };

  // Longest header line WinInet hands over whole, in characters.
  static constexpr size_t kLineLimit = 4095;

  // The status callback of the session's internet handle; the context of
  // every handle a request opens is its TAsyncState.
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
  bool FailSend(Clock::time_point Start);
  bool WaitForData(DWORD& Available);
  bool WithinLimits();
  uint32_t SendLimit() const;
  bool FailLast();

  // Asynchronous calls: Arm before the call; Settle after it: true when it
  // succeeded (at once or later), false with the error set. Settle waits
  // at most Limit ms (0: no limit of ours).
  void Arm();
  bool Settle(BOOL Ok, uint32_t Limit);
  TWait Await(DWORD Ms);
  // Raises the queued notifications (the network steps only when Steps).
  void Drain(bool Steps);
  void Note(DWORD Status, const std::string& Text);

  TNetRequest& r;
  TAsyncState* state_;
  HANDLE cancel_;  // the session's cancel event

  bool loginSent_ = false;  // the server login went with the last hop
  bool proxyLoginSent_ = false;

  // The current hop.
  HINTERNET connect_ = nullptr, request_ = nullptr;
  std::string hopHost_;
  uint32_t seen_ = 0;  // which network steps this hop has raised
  long newConnections_ = 0;
  bool used_ = false;

  // Body.
  bool ended_ = false;  // the body was read to its end
  bool lengthKnown_ = false;
  int64_t length_ = 0, received_ = 0;
  TNetError bodyError_ = TNetError::None;
  DWORD bodySystem_ = 0;
  // The low-speed limit: bytes received since windowStart_, which moves on
  // by the time the caller keeps the data (Read is not waiting then).
  Clock::time_point windowStart_, lastByte_, lastReturn_;
  int64_t windowBytes_ = 0;
};

}  // namespace kelvora::net
