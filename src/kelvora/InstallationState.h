// What an installation keeps about itself for release control, in its state
// folder: a random identifier (its rollout buckets come from it) and the
// highest "#sequence" accepted from each info address (a lower one is a
// replay).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvora {

// The identifier in State ("installation-id"), made and kept there when
// missing; empty when none can be kept (the folder cannot be written).
std::string InstallationId(const std::string& State);

// The highest sequence accepted from URL; nullopt when none was.
std::optional<uint64_t> HighestSequence(const std::string& State, const std::string& URL);
// Keeps Sequence as URL's highest when it is higher. False when it could not
// be written.
bool KeepSequence(const std::string& State, const std::string& URL, uint64_t Sequence);

}  // namespace kelvora
