// The release-control keys as the publisher's tool writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace publish {

// The sequence for the next info file at a place whose current text is
// Previous (nullopt: none there): above the one it carries, and never below
// the current time in seconds, so that a file made elsewhere or after the
// old one was deleted still counts as newer than every file made before.
uint64_t NextSequence(const std::optional<std::string>& Previous, int64_t Now);

// Text without its signature line and with "#rollout=" and "#sequence="
// set: the new lines go first (the first occurrence of a key counts) and
// the lines holding the old ones are left out.
std::string WithControlKeys(const std::string& Text, const std::string& Rollout, uint64_t Sequence);

}  // namespace publish
