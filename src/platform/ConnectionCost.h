// The platform seam for what the current connection costs: whether the
// system calls it metered (a phone's data, a capped plan), so that large
// downloads can wait for a free one.
#pragma once

namespace kelvora::platform {

enum class TConnectionCost { Unknown, Unmetered, Metered };

// Linux: NetworkManager's Metered property on the system bus (through
// libsystemd's sd-bus, loaded when present; a bus that does not answer
// within two seconds is Unknown). Windows: the cost the network list
// manager reports.
TConnectionCost ConnectionCost();

}  // namespace kelvora::platform
