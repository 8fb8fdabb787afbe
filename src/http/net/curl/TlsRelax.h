// Certificate checks stay on by default; these relax exactly the checks the
// request's security flags name: an unknown certificate authority, or a
// certificate outside its validity dates. (The host-name check is relaxed
// through libcurl itself.)
#pragma once

#include <cstdint>

#include <curl/curl.h>

namespace kelvora::net {

// Installs the relaxed verification on Easy for the given secIgnore* bits
// (secIgnoreUnknownCA, secIgnoreCertDateInvalid). False when the TLS back-end
// of libcurl cannot do it (not OpenSSL).
bool InstallRelaxedVerify(CURL* Easy, uint32_t SecurityFlags);

}  // namespace kelvora::net
