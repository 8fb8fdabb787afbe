// The check of one finished download against the size and SHA-256 its info
// file lists.
#pragma once

#include <string>

#include "kelvora/trust/TrustFormat.h"

namespace kelvora::trust {

// Empty when the file at Path has exactly Expected's size and hash;
// otherwise the reason, naming the file.
std::string CheckDownload(const std::string& Path, const TFileHash& Expected);

}  // namespace kelvora::trust
