#include "http/net/wininet/NetClientImpl.h"

namespace kelvora::net {

TNetClient::TNetClient() : impl_(std::make_unique<Impl>()) {}

TNetClient::~TNetClient() = default;

}  // namespace kelvora::net
