#include "http/net/NetSession.h"

namespace kelvora::net {

namespace {

// "a; b c" -> "a,b,c"; the "<local>" marker of other systems has no match in
// libcurl and is dropped.
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
      noProxy_(ToNoProxy(Bypass)),
      flags_(Flags) {
  EnsureCurlInitialised();
}

TNetSession::~TNetSession() {
  CURLM* m;
  {
    std::lock_guard lk(mutex_);
    m = multi_;
    multi_ = nullptr;
  }
  client_->ReleaseMulti(m, !Cancelled());
}

void TNetSession::Cancel() {
  cancelled_.store(true, std::memory_order_release);
  std::lock_guard lk(mutex_);
  if (multi_ != nullptr) curl_multi_wakeup(multi_);
}

bool TNetSession::QueryOption(uint32_t Option, uint32_t& Value) const {
  if (Option != optConnectedState) return false;
  Value = 0;
  return true;
}

CURLM* TNetSession::Multi() {
  std::lock_guard lk(mutex_);
  if (multi_ == nullptr) multi_ = client_->AcquireMulti();
  return multi_;
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
