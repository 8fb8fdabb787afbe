// UTF-8 (the queue's and the command's encoding) to UTF-16 (the system's
// wide calls) and back, and the C errno closest to a system error.
#pragma once

#include <windows.h>

#include <string>

namespace kelvora::updater {

std::wstring Wide(const std::string& Utf8);
std::string Utf8(const std::wstring& Text);
// Sets errno from GetLastError() (for the messages on stderr).
void ErrnoFromLastError();

}  // namespace kelvora::updater
