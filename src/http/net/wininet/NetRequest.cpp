// TNetRequest over WinInet: the back-end's entry points and errors. The
// asynchronous calls are in NetRequestAsync.cpp; sending, the upload and the
// body in NetRequestSend.cpp.
#include "http/net/wininet/NetRequestImpl.h"

#include "http/net/HeaderLines.h"
#include "framework/win32/Wide.h"

namespace kelvora::net {

TNetRequest::Impl* TNetRequest::NewImpl(TNetRequest& Self) { return new Impl(Self); }

void TNetRequest::ImplDelete::operator()(Impl* P) const { delete P; }

TNetRequest::~TNetRequest() { NotifyClosing(impl_->used_, impl_->ended_ && error_ == TNetError::None); }

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

}  // namespace kelvora::net
