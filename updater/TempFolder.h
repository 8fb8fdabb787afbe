// The private temporary folder in which the application leaves the queue
// file. The rule is the one the application uses when it writes the file:
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp/kelvora-<uid>, each only when it
// is a folder of its own (not a link) owned by the user with mode 0700.
#pragma once

#include <string>

namespace kelvora::updater {

// The folder without a trailing "/"; "" when no candidate qualifies (the
// updater creates nothing).
std::string PrivateTempFolder();

}  // namespace kelvora::updater
