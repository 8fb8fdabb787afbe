#include "http/net/NetSession.h"

#include <algorithm>

#include "http/net/NetRequest.h"
#include "framework/win32/Wide.h"

namespace kelvora::net {

namespace {

// "a; b c" -> "a,b,c" without "<local>".
std::string ToNoProxy(const std::string& Bypass) {
  std::string out, item;
  auto flush = [&] {
    if (!item.empty() && item != "<local>") {
      if (!out.empty()) out += ',';
      out += item;
    }
    item.clear();
  };
  for (char c : Bypass) {
    if (c == ';' || c == ',' || c == ' ' || c == '\t')
      flush();
    else
      item += c;
  }
  flush();
  return out;
}

}  // namespace

TNetSession::TNetSession(std::shared_ptr<TNetClient> Client, std::string Agent, TAccessType Access,
                         std::string Proxy, std::string Bypass, uint32_t Flags)
    : client_(std::move(Client)),
      agent_(std::move(Agent)),
      access_(Access),
      proxy_(std::move(Proxy)),
      bypass_(std::move(Bypass)),
      noProxy_(ToNoProxy(bypass_)),
      flags_(Flags) {}

TNetSession::~TNetSession() {
  std::lock_guard lk(mutex_);
  for (HINTERNET h : handles_) InternetCloseHandle(h);
  handles_.clear();
  if (internet_ != nullptr) InternetCloseHandle(internet_);
  internet_ = nullptr;
}

HINTERNET TNetSession::Internet() {
  std::lock_guard lk(mutex_);
  if (Cancelled()) return nullptr;
  if (internet_ != nullptr) return internet_;
  DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
  if (access_ == TAccessType::Direct) access = INTERNET_OPEN_TYPE_DIRECT;
  if (access_ == TAccessType::Proxy) access = INTERNET_OPEN_TYPE_PROXY;
  const std::wstring agent = win32::Wide(agent_), proxy = win32::Wide(proxy_), bypass = win32::Wide(bypass_);
  const bool useProxy = access_ == TAccessType::Proxy;
  internet_ = InternetOpenW(agent.c_str(), access, useProxy && !proxy.empty() ? proxy.c_str() : nullptr,
                            useProxy && !bypass.empty() ? bypass.c_str() : nullptr,
                            (flags_ & sfOffline) ? INTERNET_FLAG_OFFLINE : 0);
  if (internet_ != nullptr) InternetSetStatusCallbackW(internet_, &TNetRequest::OnStatusThunk);
  return internet_;
}

bool TNetSession::Adopt(HINTERNET Handle) {
  std::lock_guard lk(mutex_);
  if (Cancelled()) {
    InternetCloseHandle(Handle);
    return false;
  }
  handles_.push_back(Handle);
  return true;
}

void TNetSession::Close(HINTERNET& Handle) {
  if (Handle == nullptr) return;
  std::lock_guard lk(mutex_);
  auto it = std::find(handles_.begin(), handles_.end(), Handle);
  if (it != handles_.end()) {
    handles_.erase(it);
    InternetCloseHandle(Handle);
  }
  Handle = nullptr;
}

void TNetSession::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  // Closing a handle makes a call blocked on it (or on its children)
  // return; the requests find their handles gone and close nothing twice.
  std::lock_guard lk(mutex_);
  for (auto it = handles_.rbegin(); it != handles_.rend(); ++it) InternetCloseHandle(*it);
  handles_.clear();
}

bool TNetSession::QueryOption(uint32_t Option, uint32_t& Value) const {
  if (Option != optConnectedState) return false;
  DWORD state = 0, size = sizeof state;
  Value = InternetQueryOptionW(nullptr, INTERNET_OPTION_CONNECTED_STATE, &state, &size) ? state : 0;
  return true;
}

void TNetSession::Notify(void* Context, uint32_t Status, const void* Info, uint32_t Length) {
  if (callback_ && !Cancelled()) callback_(Context, Status, Info, Length);
}

void TNetSession::NotifyText(void* Context, uint32_t Status, const std::string& Text) {
  Notify(Context, Status, Text.c_str(), static_cast<uint32_t>(Text.size() + 1));
}

TNetConnection::TNetConnection(std::shared_ptr<TNetSession> Session, std::string Host, uint16_t Port,
                               std::string Username, std::string Password, void* Context)
    : session_(std::move(Session)),
      host_(std::move(Host)),
      port_(Port),
      username_(std::move(Username)),
      password_(std::move(Password)),
      context_(Context) {}

TNetConnection::~TNetConnection() { session_->Notify(context_, stHandleClosing, nullptr, 0); }

}  // namespace kelvora::net
