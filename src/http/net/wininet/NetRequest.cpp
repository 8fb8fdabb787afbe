// TNetRequest over WinInet: the back-end's entry points, errors and the
// status notifications. Sending, the upload and the body are in
// NetRequestSend.cpp.
#include "http/net/wininet/NetRequestImpl.h"

#include <algorithm>

#include "http/net/HeaderLines.h"
#include "framework/win32/Wide.h"

namespace kelvora::net {

namespace {

// Network steps passed on once per hop, as bits of seen_.
uint32_t StepBit(DWORD Status) {
  switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: return 1;
    case INTERNET_STATUS_NAME_RESOLVED: return 2;
    case INTERNET_STATUS_CONNECTING_TO_SERVER: return 4;
    case INTERNET_STATUS_CONNECTED_TO_SERVER: return 8;
    case INTERNET_STATUS_SENDING_REQUEST: return 16;
    case INTERNET_STATUS_REQUEST_SENT: return 32;
    case INTERNET_STATUS_RECEIVING_RESPONSE: return 64;
    case INTERNET_STATUS_RESPONSE_RECEIVED: return 128;
    default: return 0;
  }
}

// An address in a notification: WinInet gives the resolved and connected
// addresses as 8-bit text even to the wide callback; accept either form.
std::string InfoText(const void* Info, DWORD Length) {
  if (Info == nullptr || Length == 0) return {};
  const auto* b = static_cast<const char*>(Info);
  if (Length >= 2 && b[1] == 0) {
    const auto* w = static_cast<const wchar_t*>(Info);
    size_t n = 0;
    while (n < Length / sizeof(wchar_t) && w[n] != 0) ++n;
    return win32::Utf8(std::wstring(w, n));
  }
  size_t n = 0;
  while (n < Length && b[n] != 0) ++n;
  return std::string(b, n);
}

}  // namespace

TNetRequest::Impl* TNetRequest::NewImpl(TNetRequest& Self) { return new Impl(Self); }

void TNetRequest::ImplDelete::operator()(Impl* P) const { delete P; }

TNetRequest::~TNetRequest() {
  Impl& m = *impl_;
  NotifyClosing(m.used_, m.ended_ && error_ == TNetError::None);
  m.CloseHop();
}

bool TNetRequest::Run() { return impl_->Run(); }
bool TNetRequest::StartUpload() { return impl_->StartUpload(); }
bool TNetRequest::Write(const void* Data, size_t Count, size_t& Written) { return impl_->Write(Data, Count, Written); }
bool TNetRequest::End() { return impl_->End(); }
bool TNetRequest::Read(void* Buffer, size_t Size, size_t& BytesRead) { return impl_->Read(Buffer, Size, BytesRead); }
// A hop's handles are closed when the next one opens.
void TNetRequest::DropRedirectBody() {}
long TNetRequest::NewConnections() const { return impl_->newConnections_; }

// The reason of the WinInet call that just failed.
bool TNetRequest::Impl::FailLast() {
  const DWORD e = GetLastError();
  if (r.session_.Cancelled()) return r.Fail(TNetError::Cancelled, e);
  switch (e) {
    case ERROR_INTERNET_TIMEOUT:
    case WSAETIMEDOUT: return r.Fail(TNetError::Timeout, e);
    case ERROR_INTERNET_OPERATION_CANCELLED: return r.Fail(TNetError::Cancelled, e);
    case ERROR_INTERNET_FORCE_RETRY: return r.Fail(TNetError::ForceRetry, e);
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return r.Fail(TNetError::BadUrl, e);
    default: return r.Fail(TNetError::Transport, e);
  }
}

std::string TNetRequest::ErrorText() const {
  std::string s = NetErrorText(error_);
  if (systemError_ != 0) {
    wchar_t buf[512] = {};
    HMODULE wininet = GetModuleHandleW(L"wininet.dll");
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             wininet, static_cast<DWORD>(systemError_), 0, buf, 512, nullptr);
    while (n > 0 && (buf[n - 1] == L'\r' || buf[n - 1] == L'\n' || buf[n - 1] == L' ')) --n;
    s += " (error " + std::to_string(systemError_);
    if (n > 0) s += ": " + win32::Utf8(std::wstring(buf, n));
    s += ")";
  }
  return s;
}

void CALLBACK TNetRequest::Impl::OnStatusThunk(HINTERNET, DWORD_PTR Context, DWORD Status, LPVOID Info, DWORD Length) {
  if (Context != 0) reinterpret_cast<Impl*>(Context)->OnStatus(Status, Info, Length);
}

// Runs on the thread of the WinInet call (every call is synchronous), or on
// the thread that cancels, which this ignores.
void TNetRequest::Impl::OnStatus(DWORD Status, const void* Info, DWORD Length) {
  if (r.session_.Cancelled()) return;
  if (Status == INTERNET_STATUS_INTERMEDIATE_RESPONSE && sending_) {
    r.session_.Notify(r.context_, stIntermediateResponse, nullptr, 0);
    return;
  }
  const uint32_t bit = StepBit(Status);
  if (bit == 0 || !sending_ || (seen_ & bit)) return;
  seen_ |= bit;
  switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: r.session_.NotifyText(r.context_, Status, hopHost_); break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      ++newConnections_;
      [[fallthrough]];
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER: r.session_.NotifyText(r.context_, Status, InfoText(Info, Length)); break;
    default: r.session_.Notify(r.context_, Status, nullptr, 0); break;
  }
}

}  // namespace kelvora::net
