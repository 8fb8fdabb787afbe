// UTF-8 (the queue's and the command's encoding) to UTF-16 (the system's
// wide calls) and back, and the C errno closest to a system error: the
// framework's conversions, compiled into the updater from their source.
#pragma once

#include <windows.h>

#include "framework/win32/Wide.h"

namespace kelvora::updater {

using win32::ErrnoFromLastError;
using win32::Utf8;
using win32::Wide;

}  // namespace kelvora::updater
