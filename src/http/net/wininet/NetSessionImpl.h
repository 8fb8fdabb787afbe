// Session and connection handles of the pull-style internet client over
// WinInet. The session owns the internet handle (InternetOpenW, opened on
// first use) with its status callback, and keeps the list of the handles its
// requests opened, so that Cancel, from any thread, can close them: that
// makes a blocking WinInet call return. Every handle is closed exactly once,
// by Cancel or by its request, never by both.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

  // Any thread: every blocking call of the session's requests returns with
  // TNetError::Cancelled, now and later, and no further status notification
  // is raised.
  void Cancel();
  bool Cancelled() const { return cancelled_.load(std::memory_order_acquire); }

  // optConnectedState: the system's connected state (csOfflineByUser when
  // the user put it offline).
  bool QueryOption(uint32_t Option, uint32_t& Value) const;

  const std::string& Agent() const { return agent_; }
  TAccessType Access() const { return access_; }
  const std::string& Proxy() const { return proxy_; }
  // The bypass list without "<local>", comma separated (as the libcurl
  // layer reports it; WinInet itself is given the list as written).
  const std::string& NoProxy() const { return noProxy_; }
  bool Offline() const { return (flags_ & sfOffline) != 0; }
  TNetClient& Client() const { return *client_; }

  // For requests. Internet() opens the internet handle on first use
  // (nullptr when that fails or the session was cancelled).
  HINTERNET Internet();
  // Takes a handle a request opened into the list; false (the handle
  // closed) when the session was cancelled meanwhile.
  bool Adopt(HINTERNET Handle);
  // Closes Handle unless Cancel did already; clears it.
  void Close(HINTERNET& Handle);
  void Notify(void* Context, uint32_t Status, const void* Info, uint32_t Length);
  void NotifyText(void* Context, uint32_t Status, const std::string& Text);

 private:
  std::shared_ptr<TNetClient> client_;
  std::string agent_;
  TAccessType access_;
  std::string proxy_, bypass_, noProxy_;
  uint32_t flags_;
  TStatusCallback callback_;

  std::mutex mutex_;
  HINTERNET internet_ = nullptr;
  std::vector<HINTERNET> handles_;
  std::atomic<bool> cancelled_{false};
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
