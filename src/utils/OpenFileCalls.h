// Times and attributes set through a file already open (a descriptor; on
// Windows a C runtime descriptor), never through a name that may have
// become a link since the file was opened.
#pragma once

#include "kelvora/kvUtils.h"

namespace kelvora {

// Modified (-1: kept); false when it cannot be set.
bool SetFileTimesOf(int Fd, TDateTime Modified);
bool ApplyFileAttributesOf(int Fd, TkvFileAttributes Attrs);

}  // namespace kelvora
