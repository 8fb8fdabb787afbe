// The connection state: the dial-up service's flag where the system keeps
// one, else the machine's own addresses.
#include "kelvora/kvUtils.h"
#include "platform/Network.h"

namespace kelvora {

bool HasLocalAddress() { return platform::HasRoutableAddress(platform::LocalAddresses()); }

bool IsOnline() {
  bool connected = false;
  if (platform::ReadDialUpState(connected)) return connected;
  return HasLocalAddress();
}

}  // namespace kelvora
