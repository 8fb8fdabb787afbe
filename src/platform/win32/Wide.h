// UTF-8 inside the engine, UTF-16 at every call of the system's wide
// functions.
#pragma once

#include <windows.h>

#include <string>

namespace kelvora::platform {

// Text that is not valid UTF-8 has its bad bytes replaced (U+FFFD).
std::wstring Wide(const std::string& Utf8);
// False (with errno EILSEQ) when Utf8 is not valid UTF-8 or holds a NUL,
// where a silent change would name another file or pass another argument.
bool WideExact(const std::string& Utf8, std::wstring& Out);
std::string Utf8(const wchar_t* Text, std::size_t Length);
std::string Utf8(const std::wstring& Text);
// Sets errno from a system error code (GetLastError()).
void SetErrnoFromSystem(DWORD Error);

}  // namespace kelvora::platform
