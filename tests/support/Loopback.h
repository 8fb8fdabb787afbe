// Loopback helpers for test servers.
#pragma once

namespace kvtest {

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Waits until something accepts connections on 127.0.0.1:Port.
bool WaitForListener(int Port, int TimeoutMs);

}  // namespace kvtest
