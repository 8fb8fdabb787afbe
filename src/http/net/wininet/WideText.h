// UTF-8 inside the engine, UTF-16 at each WinInet call.
#pragma once

#include <string>

namespace kelvora::net {

std::wstring Widen(const std::string& Text);
std::string Narrow(const wchar_t* Text, size_t Length);
inline std::string Narrow(const std::wstring& Text) { return Narrow(Text.data(), Text.size()); }

}  // namespace kelvora::net
