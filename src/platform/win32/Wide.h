// UTF-8 inside the engine, UTF-16 at every call of the system's wide
// functions.
#pragma once

#include <windows.h>

#include <string>

namespace kelvora::platform {

std::wstring Wide(const std::string& Utf8);
std::string Utf8(const wchar_t* Text, std::size_t Length);
std::string Utf8(const std::wstring& Text);
// Sets errno from a system error code (GetLastError()).
void SetErrnoFromSystem(DWORD Error);

}  // namespace kelvora::platform
