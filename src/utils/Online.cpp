// The connection state, from the machine's own addresses.
#include "kelvora/kvUtils.h"
#include "platform/Network.h"

namespace kelvora {

bool HasLocalAddress() { return platform::HasRoutableAddress(platform::LocalAddresses()); }

bool IsOnline() { return HasLocalAddress(); }

}  // namespace kelvora
