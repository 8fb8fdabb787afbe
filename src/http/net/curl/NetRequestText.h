// Text helpers shared by the files of TNetRequest.
#pragma once

#include <string>
#include <vector>

namespace kelvora::net {

// The non-empty lines of a text whose lines end with CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& Text);
// "scheme://host:port" of an absolute URL, lower case and with the scheme's
// default port filled in; "" when it cannot be read.
std::string OriginOf(const std::string& Url);
// Whether Text contains Word, without regard to case.
bool ContainsWord(const std::string& Text, const char* Word);

}  // namespace kelvora::net
