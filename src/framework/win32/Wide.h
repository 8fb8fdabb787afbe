// UTF-8 inside the engine, UTF-16 at every wide-character system call.
#pragma once

#include <string>

namespace kelvora::win32 {

std::wstring Wide(const std::string& Utf8);
std::string Utf8(const std::wstring& Text);
std::string Utf8(const wchar_t* Text);
// errno set to the C error closest to GetLastError(), for callers that
// report through errno.
void ErrnoFromLastError();

}  // namespace kelvora::win32
