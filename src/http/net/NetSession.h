// TNetSession and TNetConnection: session and connection handles of the
// pull-style internet client. A session carries the agent, the proxy
// settings, the offline flag and the status callback, and may be cancelled
// from any thread; a connection names the server and the login given for
// it. Neither talks to the network: requests do (NetRequest.h). The
// back-end's handles live in TNetSession::Impl, defined by its side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "http/net/NetClient.h"
#include "http/net/NetTypes.h"

namespace kelvora::net {

class TNetSession {
 public:
  // Proxy is "host:port" (atUseProxy only); Bypass lists hosts separated by
  // ";" or blanks. Flags may hold sfOffline.
  TNetSession(std::shared_ptr<TNetClient> Client, std::string Agent, TAccessType Access, std::string Proxy,
              std::string Bypass, uint32_t Flags);
  ~TNetSession();
  TNetSession(const TNetSession&) = delete;
  TNetSession& operator=(const TNetSession&) = delete;

  // Set before the first request is made.
  void SetStatusCallback(TStatusCallback Callback) { callback_ = std::move(Callback); }

  // Any thread: every blocking call of the session's requests returns at
  // once with TNetError::Cancelled, now and later, and no further status
  // notification is raised.
  void Cancel();
  bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

  // optConnectedState: csOfflineByUser when the user put the system offline
  // (where the system knows such a state), else 0.
  bool QueryOption(uint32_t Option, uint32_t& Value) const;

  const std::string& Agent() const { return agent_; }
  TAccessType Access() const { return access_; }
  const std::string& Proxy() const { return proxy_; }
  // The bypass list as given, and without "<local>", comma separated.
  const std::string& Bypass() const { return bypass_; }
  const std::string& NoProxy() const { return noProxy_; }
  bool Offline() const { return (flags_ & sfOffline) != 0; }
  TNetClient& Client() const { return *client_; }

  // For requests (the thread that uses the session).
  void Notify(void* Context, uint32_t Status, const void* Info, uint32_t Length);
  void NotifyText(void* Context, uint32_t Status, const std::string& Text);

  // The back-end's part, defined, made and deleted by its side.
  struct Impl;
  struct ImplDelete {
    void operator()(Impl* P) const;
  };
  Impl& Backend() const { return *impl_; }

 private:
  static Impl* NewImpl(TNetSession& Self);

  std::shared_ptr<TNetClient> client_;
  std::string agent_;
  TAccessType access_;
  std::string proxy_, bypass_, noProxy_;
  uint32_t flags_;
  TStatusCallback callback_;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<Impl, ImplDelete> impl_;
};

class TNetConnection {
 public:
  TNetConnection(std::shared_ptr<TNetSession> Session, std::string Host, uint16_t Port, std::string Username,
                 std::string Password, void* Context);
  ~TNetConnection();

  TNetSession& Session() const { return *session_; }
  const std::shared_ptr<TNetSession>& SessionPtr() const { return session_; }
  const std::string& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  const std::string& Username() const { return username_; }
  const std::string& Password() const { return password_; }
  void* Context() const { return context_; }

 private:
  std::shared_ptr<TNetSession> session_;
  std::string host_;
  uint16_t port_;
  std::string username_, password_;
  void* context_;
};

}  // namespace kelvora::net
