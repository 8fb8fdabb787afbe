// What the user is told when a file or folder cannot be written: the cause
// the system gave, where it is one a person can act on.
#pragma once

#include <string>

namespace kelvora {

// The text for Path that could not be written with the error Error (an
// errno value; the Windows calls map theirs): a full disk or quota, a
// folder the user may not change (no permission, read-only), or, for any
// other cause, the general text that names both.
std::string CannotWriteText(const std::string& Path, int Error);
// Whether Error says the user may not write there (no permission, a
// read-only mount), rather than that the write itself failed.
bool NotAllowedToWrite(int Error);

}  // namespace kelvora
