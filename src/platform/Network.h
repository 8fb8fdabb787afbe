// The platform seam for the online test: the machine's own addresses, and
// the dial-up state the system keeps.
#pragma once

#include <string>
#include <vector>

namespace kelvora::platform {

struct TLocalAddress {
  std::string Interface;
  std::string Text;       // numeric form, "192.0.2.2" or "fd00::2"
  bool InterfaceUp = false;
  bool InterfaceLoopback = false;
};

// The IPv4 and IPv6 addresses of the machine's interfaces (getifaddrs), in
// the order the system lists them (Linux: getifaddrs; Windows:
// GetAdaptersAddresses, up meaning operational).
std::vector<TLocalAddress> LocalAddresses();

// The dial-up service's "Remote Connection" flag (Windows: the value under
// HKLM\System\CurrentControlSet\Services\RemoteAccess). False when the
// system keeps no such flag (always on Linux); else true, with Connected
// telling whether its first byte is 1.
bool ReadDialUpState(bool& Connected);

// True when Text is an address that can reach other machines: not loopback
// (127.0.0.0/8 — Debian gives the host name 127.0.1.1 —, ::1, ::ffff:127.x),
// not unspecified, not link-local (169.254/16, fe80::/10), not multicast.
bool IsRoutableAddress(const std::string& Text);

// True when one of Addresses is routable and sits on an interface that is
// up and not the loopback interface.
bool HasRoutableAddress(const std::vector<TLocalAddress>& Addresses);

}  // namespace kelvora::platform
