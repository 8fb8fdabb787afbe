// TNetSession over WinInet: the internet handle, the handles of its
// requests, Cancel and the system's connected state.
#include "http/net/wininet/NetSessionImpl.h"

#include <algorithm>

#include "framework/win32/Wide.h"
#include "http/net/wininet/NetRequestImpl.h"

namespace kelvora::net {

TNetSession::Impl* TNetSession::NewImpl(TNetSession& Self) { return new Impl(Self); }

void TNetSession::ImplDelete::operator()(Impl* P) const { delete P; }

TNetSession::Impl::~Impl() {
  std::lock_guard lk(mutex);
  for (HINTERNET h : handles) InternetCloseHandle(h);
  handles.clear();
  if (internet != nullptr) InternetCloseHandle(internet);
  internet = nullptr;
  if (cancel != nullptr) CloseHandle(cancel);
}

HINTERNET TNetSession::Impl::Internet() {
  std::lock_guard lk(mutex);
  if (s.Cancelled()) return nullptr;
  if (internet != nullptr) return internet;
  DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
  if (s.Access() == TAccessType::Direct) access = INTERNET_OPEN_TYPE_DIRECT;
  if (s.Access() == TAccessType::Proxy) access = INTERNET_OPEN_TYPE_PROXY;
  const std::wstring agent = win32::Wide(s.Agent()), proxy = win32::Wide(s.Proxy()), bypass = win32::Wide(s.Bypass());
  const bool useProxy = s.Access() == TAccessType::Proxy;
  internet = InternetOpenW(agent.c_str(), access, useProxy && !proxy.empty() ? proxy.c_str() : nullptr,
                           useProxy && !bypass.empty() ? bypass.c_str() : nullptr,
                           INTERNET_FLAG_ASYNC | (s.Offline() ? INTERNET_FLAG_OFFLINE : 0));
  if (internet != nullptr) InternetSetStatusCallbackW(internet, &TNetRequest::Impl::OnStatusThunk);
  return internet;
}

bool TNetSession::Impl::Adopt(HINTERNET Handle) {
  std::lock_guard lk(mutex);
  if (s.Cancelled()) {
    InternetCloseHandle(Handle);
    return false;
  }
  handles.push_back(Handle);
  return true;
}

void TNetSession::Impl::Close(HINTERNET& Handle) {
  if (Handle == nullptr) return;
  std::lock_guard lk(mutex);
  auto it = std::find(handles.begin(), handles.end(), Handle);
  if (it != handles.end()) {
    handles.erase(it);
    InternetCloseHandle(Handle);
  }
  Handle = nullptr;
}

// Closing a handle makes a call blocked on it (or on its children) return;
// the requests find their handles gone and close nothing twice.
void TNetSession::Impl::CloseAll() {
  std::lock_guard lk(mutex);
  for (auto it = handles.rbegin(); it != handles.rend(); ++it) InternetCloseHandle(*it);
  handles.clear();
}

void TNetSession::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  if (impl_->cancel != nullptr) SetEvent(impl_->cancel);
  impl_->CloseAll();
}

bool TNetSession::QueryOption(uint32_t Option, uint32_t& Value) const {
  if (Option != optConnectedState) return false;
  DWORD state = 0, size = sizeof state;
  Value = InternetQueryOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, &size) ? state : 0;
  return true;
}

}  // namespace kelvora::net
