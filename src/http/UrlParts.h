// URL cracking for SplitURL and the request worker.
#pragma once

#include <cstdint>
#include <string>

namespace kelvora::httpimpl {

struct TUrlParts {
  std::string Scheme, HostName, UserName, Password, Path, ExtraInfo;  // escapes decoded
  std::string RawPath, RawExtraInfo;                                  // as written
  uint16_t Port = 0;
};

// "http://" is put in front of a URL without "://". False when the URL
// cannot be split or a part does not fit its buffer.
bool CrackUrl(const std::string& URL, TUrlParts& Parts);

// EncodeURLPart for text that may already hold escapes: a "%" followed by
// two hexadecimal digits is kept as it is.
std::string EncodeKeepingEscapes(const std::string& S);

}  // namespace kelvora::httpimpl
