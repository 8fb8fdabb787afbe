// TNetSession and TNetConnection: what both back-ends share. The session's
// handles, its Cancel and its connected state are the back-end's.
#include "http/net/NetSession.h"

namespace kelvora::net {

namespace {

// "a; b c" -> "a,b,c"; the "<local>" marker of the classic library is
// dropped (the back-end that knows it is given the list as written).
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
      flags_(Flags),
      impl_(NewImpl(*this)) {}

// The back-end's part goes first (its destructor may still use the rest).
TNetSession::~TNetSession() { impl_.reset(); }

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
