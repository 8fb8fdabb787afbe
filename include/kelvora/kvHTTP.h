// Unit kvHTTP: one transfer per Read from an http, https or file address to
// memory or to a file, on a worker thread, with its settings objects, events
// and progress figures; the URL helpers, the status texts and the stored
// login of TkvLoginComponent.
//
// Threads: everything here is called on the UI thread, except the handlers
// of OnBeforeSendRequest, OnStatusChange and OnRedirect, which run on the
// transfer's worker thread and must not touch the user interface.
#pragma once

#include "kelvora/kelvora_export.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

#include "kelvora/Component.h"
#include "kelvora/Persistent.h"
#include "kelvora/Streams.h"
#include "kelvora/StringList.h"
#include "kelvora/kvThread.h"
#include "kelvora/kvUtils.h"

namespace kelvora {

namespace net {
class TNetClient;
class TNetRequest;
}  // namespace net
namespace httpimpl {
struct TTransfer;
struct THub;
class TRequestWorker;
}  // namespace httpimpl

// ---------------------------------------------------------------------------
// Enumerations and sets
// ---------------------------------------------------------------------------

enum TkvHTTPAccessType { atPreconfig, atDirect, atUseProxy };

enum TkvInternetOption {
  ioIgnoreCertificateInvalid,
  ioIgnoreCertificateDateInvalid,
  ioIgnoreUnknownCertificateAuthority,
  ioIgnoreRedirectToHTTP,
  ioIgnoreRedirectToHTTPS,
  ioKeepConnection,
  ioNoAuthentication,
  ioNoAutoRedirect,
  ioNoCookies
};

enum TkvCacheOption {
  coAlwaysReload,
  coReloadIfNoExpireInformation,
  coReloadUpdatedObjects,
  coPragmaNoCache,
  coNoCacheWrite,
  coCreateTempFilesIfCantCache,
  coUseCacheIfNetFail
};

enum TkvHTTPRequestMethod { rmAuto, rmGet, rmPost };

// A set of enumeration values, bit n for the n-th value.
template <class E, class Bits>
class TkvSet {
 public:
  constexpr TkvSet() = default;
  constexpr TkvSet(std::initializer_list<E> Items) {
    for (E e : Items) Include(e);
  }
  static constexpr TkvSet FromBits(Bits B) {
    TkvSet s;
    s.bits_ = B;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(E V) const { return (bits_ >> static_cast<unsigned>(V)) & 1u; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E V) { bits_ = static_cast<Bits>(bits_ | (Bits{1} << static_cast<unsigned>(V))); }
  constexpr void Exclude(E V) { bits_ = static_cast<Bits>(bits_ & ~(Bits{1} << static_cast<unsigned>(V))); }
  friend constexpr bool operator==(TkvSet A, TkvSet B) { return A.bits_ == B.bits_; }
  friend constexpr TkvSet operator+(TkvSet A, TkvSet B) { return FromBits(static_cast<Bits>(A.bits_ | B.bits_)); }
  friend constexpr TkvSet operator-(TkvSet A, TkvSet B) { return FromBits(static_cast<Bits>(A.bits_ & ~B.bits_)); }

 private:
  Bits bits_ = 0;
};

using TkvInternetOptions = TkvSet<TkvInternetOption, uint16_t>;
using TkvCacheOptions = TkvSet<TkvCacheOption, uint8_t>;

// TransferBufferSize range.
inline constexpr int32_t kvMinBufferSize = 255;
inline constexpr int32_t kvMaxBufferSize = 2147483647;

// ---------------------------------------------------------------------------
// Settings objects. Assign(nullptr) restores the defaults; Assign from an
// object of the same class copies it; anything else goes to TPersistent.
// ---------------------------------------------------------------------------

class KELVORA_EXPORT TkvHTTPProxy : public TPersistent {
 public:
  TkvHTTPProxy();
  void Assign(const TPersistent* Source) override;
  void DefineProperties(TPropertyList& List) override;

  TkvHTTPAccessType AccessType() const { return accessType_; }
  void SetAccessType(TkvHTTPAccessType V) { accessType_ = V; }
  int32_t ProxyPort() const { return proxyPort_; }
  void SetProxyPort(int32_t V) { proxyPort_ = V; }
  const std::string& ProxyServer() const { return proxyServer_; }
  void SetProxyServer(const std::string& V) { proxyServer_ = V; }
  const std::string& ProxyBypass() const { return proxyBypass_; }
  void SetProxyBypass(const std::string& V) { proxyBypass_ = V; }
  const std::string& ProxyUsername() const { return proxyUsername_; }
  void SetProxyUsername(const std::string& V) { proxyUsername_ = V; }
  const std::string& ProxyPassword() const { return proxyPassword_; }
  void SetProxyPassword(const std::string& V) { proxyPassword_ = V; }

 private:
  friend class TkvCustomHTTP;
  TkvHTTPAccessType accessType_ = atPreconfig;
  int32_t proxyPort_ = 8080;
  std::string proxyServer_;
  std::string proxyBypass_ = "127.0.0.1;";
  std::string proxyUsername_, proxyPassword_;
};

class KELVORA_EXPORT TkvHTTPRange : public TPersistent {
 public:
  void Assign(const TPersistent* Source) override;
  void DefineProperties(TPropertyList& List) override;
  // EndRange 0 means to the end of the resource.
  uint32_t StartRange() const { return startRange_; }
  void SetStartRange(uint32_t V) { startRange_ = V; }
  uint32_t EndRange() const { return endRange_; }
  void SetEndRange(uint32_t V) { endRange_ = V; }

 private:
  uint32_t startRange_ = 0, endRange_ = 0;
};

// Milliseconds; 0 stands for the default of 60 s each (never "no limit").
// The receive time-out also spans the low-speed limit: a transfer averaging
// under 100 bytes a second over that long is ended.
class KELVORA_EXPORT TkvHTTPTimeouts : public TPersistent {
 public:
  void Assign(const TPersistent* Source) override;
  void DefineProperties(TPropertyList& List) override;
  uint32_t ConnectTimeout() const { return connectTimeout_; }
  void SetConnectTimeout(uint32_t V) { connectTimeout_ = V; }
  uint32_t ReceiveTimeout() const { return receiveTimeout_; }
  void SetReceiveTimeout(uint32_t V) { receiveTimeout_ = V; }
  uint32_t SendTimeout() const { return sendTimeout_; }
  void SetSendTimeout(uint32_t V) { sendTimeout_ = V; }

 private:
  uint32_t connectTimeout_ = 0, receiveTimeout_ = 0, sendTimeout_ = 0;
};

// Attributes put on the output file: Incomplete while it is written and
// whenever a transfer leaves it unfinished ([atrArchive] means "leave the
// attributes alone"), Complete after a successful transfer.
class KELVORA_EXPORT TkvOutputFileAttributes : public TPersistent {
 public:
  static constexpr TkvFileAttributes DefaultComplete() { return {atrArchive}; }
  static constexpr TkvFileAttributes DefaultIncomplete() { return {atrArchive, atrTemporary}; }

  void Assign(const TPersistent* Source) override;
  void DefineProperties(TPropertyList& List) override;
  TkvFileAttributes Complete() const { return complete_; }
  void SetComplete(TkvFileAttributes V) {
    if (!(V == complete_)) complete_ = V;
  }
  TkvFileAttributes Incomplete() const { return incomplete_; }
  void SetIncomplete(TkvFileAttributes V) {
    if (!(V == incomplete_)) incomplete_ = V;
  }

 private:
  TkvFileAttributes complete_ = DefaultComplete();
  TkvFileAttributes incomplete_ = DefaultIncomplete();
};

// ---------------------------------------------------------------------------
// The output file stream
// ---------------------------------------------------------------------------

// A handle stream over a file opened for reading and writing: created anew
// (truncated) with CreateNew, else opened or created. With ClearProtection a
// hidden or read-only file is made writable for the open and gets its
// attributes back afterwards. Raises EFCreateError "Cannot create file %s".
class KELVORA_EXPORT TkvFileStream : public THandleStream {
 public:
  TkvFileStream(const std::string& FileName, bool CreateNew, bool ClearProtection);
  ~TkvFileStream() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
};

// ---------------------------------------------------------------------------
// The component with a stored login
// ---------------------------------------------------------------------------

// HTTPUsername and HTTPPassword are stored together as the byte-stream
// property "LInfo": a length byte L, then L bytes (user-name length, user
// name, password), each XOR (L XOR kvLoginKey). A login that does not fit
// one length byte (user name and password longer than 254 bytes together)
// cannot be stored: writing the layout raises EWriteError instead of
// storing it wrong.
inline constexpr uint8_t kvLoginKey = 0xA7;

class KELVORA_EXPORT TkvLoginComponent : public TComponent {
 public:
  explicit TkvLoginComponent(TComponent* AOwner);
  void DefineProperties(TPropertyList& List) override;

  const std::string& HTTPUsername() const { return httpUsername_; }
  void SetHTTPUsername(const std::string& V) { httpUsername_ = V; }
  const std::string& HTTPPassword() const { return httpPassword_; }
  void SetHTTPPassword(const std::string& V) { httpPassword_ = V; }

  // The "LInfo" reader and writer.
  void ReadLogin(TStream& Stream);
  void WriteLogin(TStream& Stream) const;

 private:
  std::string httpUsername_, httpPassword_;
};

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

// The request handle given to OnBeforeSendRequest.
using TkvRequestHandle = net::TNetRequest*;

using TkvHTTPBeforeSendRequestEvent = std::function<void(TObject* Sender, TkvRequestHandle Request)>;
using TkvHTTPHeaderInfoEvent = std::function<void(
    TObject* Sender, int StatusCode, const std::string& RawHeaders, const std::string& ContentType,
    const std::string& ContentLanguage, const std::string& ContentEncoding, int64_t ContentLength,
    const std::string& Location, TDateTime Date, TDateTime LastModified, TDateTime Expires, const std::string& ETag,
    bool& ContinueDownload)>;
using TkvHTTPReadProgressEvent =
    std::function<void(TObject* Sender, const std::string& ContentType, int64_t FileSize, int64_t BytesRead,
                       int32_t ElapsedTime, int32_t EstimatedTimeLeft, uint8_t PercentsDone, float TransferRate,
                       TStream* Data)>;
using TkvHTTPUploadProgressEvent =
    std::function<void(TObject* Sender, int64_t FileSize, int64_t BytesSent, int32_t ElapsedTime,
                       int32_t EstimatedTimeLeft, uint8_t PercentsDone, float TransferRate)>;
using TkvHTTPStatusChangeEvent = std::function<void(TObject* Sender, int32_t InternetStatus, const std::string& StatusText)>;
using TkvHTTPRedirectEvent = std::function<void(TObject* Sender, const std::string& NewURL)>;
using TkvHTTPPasswordRequestEvent = std::function<void(TObject* Sender, const std::string& Realm, bool& TryAgain)>;
using TkvHTTPProxyAuthenticationEvent =
    std::function<void(TObject* Sender, std::string& ProxyUsername, std::string& ProxyPassword, bool& TryAgain)>;
using TkvHTTPDoneEvent =
    std::function<void(TObject* Sender, const std::string& ContentType, int64_t FileSize, TStream* Data)>;
using TkvHTTPConnectionLostEvent = std::function<void(TObject* Sender, const std::string& ContentType,
                                                      int64_t FileSize, int64_t BytesRead, TStream* Data)>;
using TkvHTTPErrorEvent = std::function<void(TObject* Sender, int32_t StatusCode, TStream* Data)>;
// The output file could not be created or written; ErrorCode is the errno
// value (ENOSPC, EACCES, EIO...).
using TkvHTTPWriteErrorEvent = std::function<void(TObject* Sender, const std::string& FileName, int32_t ErrorCode)>;
using TkvHTTPWaitTimeoutEvent = std::function<void(TObject* Sender, bool& StopJob)>;

// ---------------------------------------------------------------------------
// The transfer component
// ---------------------------------------------------------------------------

// One transfer at a time. Sizes and counts are 64-bit: a Content-Length of
// several GiB is reported as it is, not wrapped.
class KELVORA_EXPORT TkvCustomHTTP : public TkvLoginComponent {
 public:
  explicit TkvCustomHTTP(TComponent* AOwner);
  ~TkvCustomHTTP() override;

  // --- operations ---
  bool Read(bool WaitForFinish = false) { return ReadRange(0, 0, WaitForFinish); }
  // False at once, changing nothing, while a transfer is active.
  bool ReadRange(int64_t StartPos, int64_t EndPos, bool WaitForFinish = false);
  // Sends the memory stream Source (taken over) as the body of a POST with
  // UploadHeaders; the answer is read like any other. False while active.
  bool StartUpload(std::unique_ptr<TMemoryStream> Source, const std::string& Headers, bool WaitForFinish = false);
  // Does nothing unless Busy. Force ends the transfer at once (its pending
  // events are dropped) and runs the abort step here; otherwise the worker
  // stops at its next check.
  void Abort(bool DeleteOutputFile = false, bool Force = false);
  void ReleaseOutput();
  bool Busy() const;
  std::string HostName() const;
  std::string FileName() const;

  // --- settings ---
  TStrings& RequestHeaders();
  const std::string& AcceptTypes() const;
  void SetAcceptTypes(const std::string& V);
  const std::string& Agent() const;
  void SetAgent(const std::string& V);
  const std::string& OutputFileName() const;
  void SetOutputFileName(const std::string& V);
  TkvOutputFileAttributes& OutputFileAttributes();
  const std::string& URL() const;
  void SetURL(const std::string& V);
  const std::string& PostData() const;
  void SetPostData(const std::string& V);
  const std::string& Referer() const;
  void SetReferer(const std::string& V);
  TkvCacheOptions RequestCacheOptions() const;
  void SetRequestCacheOptions(TkvCacheOptions V);
  TkvInternetOptions InternetOptions() const;
  void SetInternetOptions(TkvInternetOptions V);
  TkvHTTPRange& Range();
  TkvHTTPTimeouts& Timeouts();
  int32_t TransferBufferSize() const;
  // Raises EInvalidOperation outside 255..2147483647.
  void SetTransferBufferSize(int32_t V);
  // Milliseconds. 0: OnReadProgress (OnUploadProgress) after every block, each
  // block written as it arrives. Positive: the worker reads and writes on its
  // own, in writes of at least 256 KiB, and raises the event through the same
  // hand-off at most once per interval and always for the last block, with
  // the output flushed up to BytesRead first. Raises EInvalidOperation below 0.
  int32_t ProgressInterval() const;
  void SetProgressInterval(int32_t V);
  bool UploadFromStream() const;
  void SetUploadFromStream(bool V);
  TkvHTTPRequestMethod RequestMethod() const;
  void SetRequestMethod(TkvHTTPRequestMethod V);
  TkvHTTPProxy& Proxy();
  bool AutoGoOnline() const;
  void SetAutoGoOnline(bool V);
  bool WorkOffline() const;
  void SetWorkOffline(bool V);
  const std::string& UploadHeaders() const;
  void SetUploadHeaders(const std::string& V);
  TThreadPriority ThreadPriority() const;
  void SetThreadPriority(TThreadPriority V);
  bool WaitThread() const;
  void SetWaitThread(bool V);
  TkvCustomThread& ThreadComponent();

  // --- state of the current (or last) transfer, as seen at its last event ---
  int32_t StatusCode() const;
  int64_t ContentLength() const;
  int64_t BytesTransferred() const;
  int64_t ResumePosition() const;
  int64_t ResumeEnd() const;
  // Whether the HTTP request of the last answer asked for a range (one made
  // again from the start after a failed resume did not), and whether that
  // answer was a partial one (206) refused as not the range asked for: the
  // transfer then ends as a lost connection, nothing of the answer written.
  bool RangeRequested() const;
  bool RangeRefused() const;
  uint8_t PercentsDone() const;
  int32_t ElapsedTime() const;
  int32_t EstimatedTimeLeft() const;
  float TransferRate() const;
  const std::string& RawHeaders() const;
  const std::string& ContentType() const;
  const std::string& ContentLanguage() const;
  const std::string& ContentEncoding() const;
  const std::string& Location() const;
  const std::string& ETag() const;
  TDateTime Date() const;
  TDateTime LastModified() const;
  TDateTime Expires() const;

  // --- events ---
  TkvHTTPBeforeSendRequestEvent OnBeforeSendRequest;  // worker thread
  TkvHTTPHeaderInfoEvent OnHeaderInfo;
  TkvHTTPReadProgressEvent OnReadProgress;
  TkvHTTPUploadProgressEvent OnUploadProgress;
  TkvHTTPStatusChangeEvent OnStatusChange;  // worker thread
  TkvHTTPRedirectEvent OnRedirect;          // worker thread
  TkvHTTPPasswordRequestEvent OnHTTPPasswordRequest;
  TkvHTTPProxyAuthenticationEvent OnProxyAuthenticationRequest;
  TkvHTTPDoneEvent OnDone;
  TNotifyEvent OnDoneWithoutData;
  TkvHTTPConnectionLostEvent OnConnectionLost;
  // Raised instead of OnDone or OnConnectionLost when the output file could
  // not be created or written; such a transfer never falls back to memory.
  TkvHTTPWriteErrorEvent OnWriteError;
  TNotifyEvent OnNoConnection;
  TkvHTTPErrorEvent OnHTTPError;
  TNotifyEvent OnRequestFailed;
  TNotifyEvent OnDownloadStopped;
  TNotifyEvent OnTransferAborted;
  TkvHTTPWaitTimeoutEvent OnWaitTimeoutExpired;

 protected:
  // Both are taken by the next transfer started. With a positive
  // ProgressInterval, the block that takes BytesRead past AlertSize raises
  // OnReadProgress at once, whatever the interval (-1: no such size).
  void SetProgressAlertSize(int64_t AlertSize);
  // Called with each piece of the output file right after it was written:
  // its position in the file and its bytes. Not for memory output. Runs on
  // the worker, or for a large paced download on a thread that observes for
  // it, in the file's order either way; the transfer ends after its last
  // call. Must not block, throw, or hand off to the UI thread.
  using TBodyObserver = std::function<void(int64_t Position, const uint8_t* Data, size_t Size)>;
  void SetBodyObserver(TBodyObserver Observer);
  // Taken by the next transfer started. When set, the output file is never
  // opened by its name: the worker calls Opener for a descriptor of its own
  // (it closes it), and the file's attributes are left to the caller; -1
  // (errno) when there is none. Must not block or hand off to the UI thread.
  using TOutputOpener = std::function<int()>;
  void SetOutputOpener(TOutputOpener Opener);

 private:
  friend class httpimpl::TRequestWorker;
  using TransferPtr = std::shared_ptr<httpimpl::TTransfer>;

  std::shared_ptr<httpimpl::TTransfer> NewTransfer();
  bool Start(const TransferPtr& T, bool WaitForFinish);
  void CompletionStep();
  void AbortStep(httpimpl::TTransfer& T, bool Forced);
  void WaitStep(bool& StopJob);
  void CloseHandles(httpimpl::TTransfer& T, bool Forced);
  // Closes T's output; an open file is marked incomplete unless Marked is
  // false (its caller marks it complete at once).
  static void ReleaseTransferOutput(httpimpl::TTransfer& T, bool Marked = true);
  void KillTransfer(httpimpl::TTransfer& T);
  // Copies what the worker found into the fields above (UI thread, while the
  // worker waits or after it ended).
  void Publish(const httpimpl::TTransfer& T, bool Headers);
  void ComputeProgress(const httpimpl::TTransfer& T, int64_t Size);
  // OnReadProgress with T's figures (UI thread).
  void RaiseReadProgress(httpimpl::TTransfer& T);
  // The last block's event, left by the worker to the completion step;
  // false when a handler ended the transfer (or the component) in it.
  bool FinalProgressStep(httpimpl::TTransfer& T);

  // The component's state lives in the library (HttpData.h): the class keeps
  // one size and layout while the component grows.
  struct TData;
  std::unique_ptr<TData> d_;
};

// ---------------------------------------------------------------------------
// URL helpers, status texts, request flags
// ---------------------------------------------------------------------------

// Splits URL ("http://" is put in front when it has no "://") into its parts,
// escape sequences decoded. ExtraInfo is the part from "?" on. Port is the
// scheme's default when the URL names none. On failure (a part longer than
// its buffer: scheme 32, host 256, user name and password 128, path and
// extra information 2048 characters) the outputs are left untouched.
KELVORA_EXPORT bool SplitURL(const std::string& URL, std::string& Scheme, std::string& HostName, std::string& UserName,
              std::string& Password, std::string& Path, std::string& ExtraInfo, uint16_t& Port);
// Each byte below 0x20 or from 0x80, blank, "#", "%", "*", "+", "<" and ">"
// becomes "%" and two upper-case hex digits; everything else is kept.
KELVORA_EXPORT std::string EncodeURLPart(const std::string& S);
// The text of an internet status code ("Unknown status" for others).
KELVORA_EXPORT std::string InternetStatusText(int32_t Status);
// The request flags of a request to a URL of Scheme with these options.
KELVORA_EXPORT uint32_t RequestFlags(const std::string& Scheme, TkvCacheOptions CacheOptions, TkvInternetOptions Options);

}  // namespace kelvora
