// The WinInet side of TNetClient. WinInet keeps open connections and
// cookies per process itself, so the client holds nothing of its own.
#pragma once

#include "http/net/NetClient.h"

namespace kelvora::net {

struct TNetClient::Impl {};

}  // namespace kelvora::net
