// The origin of an address, for the files of TNetRequest.
#pragma once

#include <string>

#include "http/net/HeaderLines.h"

namespace kelvora::net {

// "scheme://host:port" of an absolute URL, lower case and with the scheme's
// default port filled in; "" when it cannot be read.
std::string OriginOf(const std::string& Url);

}  // namespace kelvora::net
