// One transfer of TkvCustomHTTP: the settings it was started with, its
// handles, its output and the figures its worker found. Shared between the
// component and the worker body, so a transfer stopped at once stays whole
// until its body has unwound, and a completion step works on its own
// transfer only, never on the next one started from its events.
//
// Who touches what:
// - Settings (S) are written before the worker starts and only read after.
// - Figures and flags are written by the worker and read on the UI thread
//   only while the worker waits in a hand-off or after it has ended.
// - Stream, Buffer and LocalFile are used by the worker under Zone, after
//   checking Killed; a forced stop sets Killed and then takes Zone, so once
//   it holds Zone the worker can no longer touch them.
// - Worker-side events (OnStatusChange, OnRedirect, OnBeforeSendRequest) run
//   under EventGate only, never under Zone: a handler may hand work to the
//   UI thread, which must be free to take Zone meanwhile. The UI thread takes
//   EventGate only after the job was stopped at once (its hand-offs are then
//   dropped), to let a running handler end before the component goes.
// - The handles are used by the worker without a lock (their calls block);
//   a forced stop only cancels the session, which wakes the worker, and the
//   handles go when the last owner lets go of the transfer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/net/NetRequest.h"
#include "kelvora/kvHTTP.h"

namespace kelvora::httpimpl {

struct TTransferSettings {
  std::string URL, PostData, Referer, AcceptTypes, Agent, OutputFileName, UploadHeaders;
  std::string Username, Password;  // HTTPUsername / HTTPPassword
  std::vector<std::string> RequestHeaders;
  TkvCacheOptions CacheOptions;
  TkvInternetOptions InternetOptions;
  uint32_t RangeStart = 0, RangeEnd = 0;
  uint32_t ConnectTimeout = 0, ReceiveTimeout = 0, SendTimeout = 0;
  int32_t BlockSize = 4096;
  int32_t ProgressInterval = 0;     // ms; 0: an event and a write per block
  int64_t ProgressAlertSize = -1;   // BytesRead past it raises the event at once
  std::function<void(int64_t, const uint8_t*, size_t)> BodyObserver;
  std::function<int()> OpenOutput;  // the output's descriptor, instead of its name
  bool UploadFromStream = false;
  TkvHTTPRequestMethod RequestMethod = rmAuto;
  TkvHTTPAccessType AccessType = atPreconfig;
  std::string ProxyServer, ProxyBypass, ProxyUsername, ProxyPassword;
  int32_t ProxyPort = 8080;
  bool AutoGoOnline = false, WorkOffline = false;
  TkvFileAttributes Complete, Incomplete;
  // Which UI events have handlers (the worker skips the work for the others).
  bool HasHeaderInfo = false, HasPasswordRequest = false, HasProxyRequest = false;
  // Handlers that run on the worker itself.
  TkvHTTPBeforeSendRequestEvent OnBeforeSendRequest;
  TkvHTTPStatusChangeEvent OnStatusChange;
  TkvHTTPRedirectEvent OnRedirect;
};

struct TTransfer {
  TkvCustomHTTP* Owner = nullptr;  // Sender of the events; used on the UI thread
  std::shared_ptr<net::TNetClient> Client;
  TTransferSettings S;

  std::atomic<bool> Killed{false};
  std::mutex Zone;
  std::mutex EventGate;

  // Handles.
  std::shared_ptr<net::TNetSession> Session;
  std::shared_ptr<net::TNetConnection> Connection;
  std::unique_ptr<net::TNetRequest> Request;
  int LocalFile = -1;

  // Output.
  std::shared_ptr<TStream> Stream;  // memory, output file, or upload source
  bool StreamIsFile = false;
  bool OutputFileOpen = false;
  bool DeleteMarked = false;
  std::atomic<bool> DeleteOnAbort{false};
  std::shared_ptr<std::vector<uint8_t>> Buffer;
  bool Active = true;

  // Flags and figures.
  bool Success = false, Retry = false, Continue = true;
  bool ReadFailed = false;
  // The last block's progress event is left to the completion step.
  bool FinalProgress = false;
  // The request of the current answer carried a range; its 206 did not hold
  // the range asked for (nothing of it was kept).
  bool RangeRequested = false, RangeRefused = false;
  int WriteError = 0;  // errno of a failed creation or write of the output file
  int32_t StatusCode = -1;
  int64_t ContentLength = 0, BytesTransferred = 0;
  int64_t ResumePosition = 0, ResumeEnd = 0;
  uint32_t StartTick = 0;
  std::string RawHeaders, ContentType, ContentLanguage, ContentEncoding, Location, ETag;
  TDateTime Date = 0, LastModified = 0, Expires = 0;
};

// Hands each transfer to the body of its own job, and the finished one to
// the completion step.
struct THub {
  std::mutex M;
  std::shared_ptr<TTransfer> Starting;
  std::shared_ptr<TTransfer> Finishing;
};

// Milliseconds of a steady clock, as a 32-bit tick count.
uint32_t TickCount();
// The transfer whose worker runs on the calling thread, if any.
TTransfer* WorkerTransfer();

}  // namespace kelvora::httpimpl
