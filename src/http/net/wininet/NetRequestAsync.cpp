// TNetRequest over WinInet: the asynchronous calls. WinInet completes a
// pending call on a thread of its own; the calling thread waits for that,
// for the session's cancel event and for its time limits.
#include <algorithm>

#include "framework/win32/Wide.h"
#include "http/net/wininet/NetRequestImpl.h"
#include "http/net/wininet/NetSessionImpl.h"

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

TAsyncState::TAsyncState() : done(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

TAsyncState::~TAsyncState() {
  if (done != nullptr) CloseHandle(done);
}

void TAsyncState::Release() {
  if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

TNetRequest::Impl::Impl(TNetRequest& Owner)
    : r(Owner), state_(new TAsyncState), cancel_(Owner.session_.Backend().cancel) {}

TNetRequest::Impl::~Impl() {
  CloseHop();
  state_->Release();
}

// Runs on whichever thread WinInet raises it: only queues and signals.
void CALLBACK TNetRequest::Impl::OnStatusThunk(HINTERNET Handle, DWORD_PTR Context, DWORD Status, LPVOID Info,
                                               DWORD Length) {
  auto* st = reinterpret_cast<TAsyncState*>(Context);
  if (st == nullptr) return;
  if (Status == INTERNET_STATUS_HANDLE_CLOSING) {
    st->Release();
    return;
  }
  if (Status == INTERNET_STATUS_REQUEST_COMPLETE) {
    std::lock_guard lk(st->mutex);
    if (Handle != st->current || st->completed || Info == nullptr) return;
    const auto* res = static_cast<const INTERNET_ASYNC_RESULT*>(Info);
    st->completed = true;
    st->result = res->dwResult;
    st->error = res->dwError;
    SetEvent(st->done);
    return;
  }
  if (StepBit(Status) == 0 && Status != INTERNET_STATUS_INTERMEDIATE_RESPONSE) return;
  std::string text = Status == INTERNET_STATUS_NAME_RESOLVED || Status == INTERNET_STATUS_CONNECTING_TO_SERVER ||
                             Status == INTERNET_STATUS_CONNECTED_TO_SERVER
                         ? InfoText(Info, Length)
                         : std::string();
  std::lock_guard lk(st->mutex);
  st->notes.push_back({Status, std::move(text)});
}

void TNetRequest::Impl::Arm() {
  std::lock_guard lk(state_->mutex);
  state_->current = request_;
  state_->completed = false;
  state_->result = 0;
  state_->error = 0;
}

TNetRequest::Impl::TWait TNetRequest::Impl::Await(DWORD Ms) {
  if (r.session_.Cancelled()) return TWait::Cancelled;
  const HANDLE waits[] = {state_->done, cancel_};
  for (;;) {
    const DWORD w = WaitForMultipleObjects(cancel_ != nullptr ? 2 : 1, waits, FALSE, Ms);
    if (w == WAIT_TIMEOUT) return TWait::TimedOut;
    if (w != WAIT_OBJECT_0 || r.session_.Cancelled()) return TWait::Cancelled;
    // A signal left by an earlier call (one that completed after its wait
    // gave up) is passed over.
    std::lock_guard lk(state_->mutex);
    if (state_->completed) return TWait::Done;
  }
}

bool TNetRequest::Impl::Settle(BOOL Ok, uint32_t Limit) {
  if (Ok) return true;
  const DWORD e = GetLastError();
  if (e != ERROR_IO_PENDING) {
    SetLastError(e);
    return FailLast();
  }
  switch (Await(Limit != 0 ? Limit : INFINITE)) {
    case TWait::Cancelled: return r.Fail(TNetError::Cancelled);
    case TWait::TimedOut: return r.Fail(TNetError::Timeout, ERROR_INTERNET_TIMEOUT);
    case TWait::Done: break;
  }
  std::lock_guard lk(state_->mutex);
  // A success may carry a count in dwError (a completed query for data
  // does): only dwResult tells.
  if (state_->result != 0) return true;
  SetLastError(state_->error != ERROR_SUCCESS ? state_->error : ERROR_INTERNET_INTERNAL_ERROR);
  return FailLast();
}

void TNetRequest::Impl::Drain(bool Steps) {
  std::vector<TAsyncState::TNote> notes;
  {
    std::lock_guard lk(state_->mutex);
    notes.swap(state_->notes);
  }
  if (!Steps || r.session_.Cancelled()) return;
  for (const auto& n : notes) Note(n.Status, n.Text);
}

void TNetRequest::Impl::Note(DWORD Status, const std::string& Text) {
  if (Status == INTERNET_STATUS_INTERMEDIATE_RESPONSE) {
    r.session_.Notify(r.context_, stIntermediateResponse, nullptr, 0);
    return;
  }
  const uint32_t bit = StepBit(Status);
  if (bit == 0 || (seen_ & bit)) return;
  seen_ |= bit;
  switch (Status) {
    case INTERNET_STATUS_RESOLVING_NAME: r.session_.NotifyText(r.context_, Status, hopHost_); break;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      ++newConnections_;
      [[fallthrough]];
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER: r.session_.NotifyText(r.context_, Status, Text); break;
    default: r.session_.Notify(r.context_, Status, nullptr, 0); break;
  }
}

}  // namespace kelvora::net
