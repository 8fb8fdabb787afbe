// UTF-8 inside the engine, UTF-16 at every call of the system's wide
// functions: the framework's conversions, and an exact one for text that
// must not change on its way (program paths, arguments).
#pragma once

#include <windows.h>

#include <string>

#include "framework/win32/Wide.h"

namespace kelvora::platform {

using win32::Utf8;
using win32::Wide;

// False (with errno EILSEQ) when Utf8 is not valid UTF-8 or holds a NUL,
// where a silent change would name another file or pass another argument.
bool WideExact(const std::string& Utf8, std::wstring& Out);
// Sets errno from a system error code, for the process calls.
void SetErrnoFromSystem(DWORD Error);

}  // namespace kelvora::platform
