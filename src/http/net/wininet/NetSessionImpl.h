// The WinInet side of TNetSession: the internet handle (InternetOpenW in
// asynchronous mode, opened on first use) with its status callback, the
// cancel event every wait of its requests watches, and the list of the
// handles its requests opened, so that Cancel, from any thread, can close
// them. Every handle is closed exactly once, by Cancel or by its request,
// never by both.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>
#include <vector>

#include "http/net/NetSession.h"

namespace kelvora::net {

struct TNetSession::Impl {
  explicit Impl(TNetSession& Owner) : s(Owner), cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Impl();

  // The internet handle (nullptr when it cannot be opened or the session
  // was cancelled).
  HINTERNET Internet();
  // Takes a handle a request opened into the list; false (the handle
  // closed) when the session was cancelled meanwhile.
  bool Adopt(HINTERNET Handle);
  // Closes Handle unless Cancel did already; clears it.
  void Close(HINTERNET& Handle);
  void CloseAll();

  TNetSession& s;
  HANDLE cancel;  // manual-reset, set by Cancel
  std::mutex mutex;
  HINTERNET internet = nullptr;
  std::vector<HINTERNET> handles;
};

}  // namespace kelvora::net
