// Request text shared by both back-ends: header lines kept across sends, the
// escaped request target and small text tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelvora::net {

// The non-empty lines of a text whose lines end with CR, LF or CR LF.
std::vector<std::string> SplitLines(const std::string& Text);
// Text in lower case (ASCII letters).
std::string Lower(std::string Text);
// Whether Text contains Word, without regard to case.
bool ContainsWord(const std::string& Text, const char* Word);
// The path and query as sent: a leading "/" added when missing, characters
// that may not appear in a request target escaped.
std::string EscapeTarget(const std::string& Object);
// Adds the lines of Text to Headers (hmAdd), or replaces a header of the
// same name (hmReplace; an empty value removes it). False, and nothing
// changed, when a line is not "Name: value".
bool AddHeaderLines(std::vector<std::string>& Headers, const std::string& Text, uint32_t Modifiers);

// The scheme of an address in lower case ("" without "://").
std::string SchemeOf(const std::string& Url);
// Defined by the back-end, with its own address parser: "scheme://host:port"
// of an absolute URL, lower case and with the scheme's default port filled
// in ("" when it cannot be read); Ref (absolute or relative) resolved
// against Base.
std::string OriginOf(const std::string& Url);
bool ResolveUrl(const std::string& Base, const std::string& Ref, std::string& Out);

}  // namespace kelvora::net
