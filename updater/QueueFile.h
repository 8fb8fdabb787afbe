// The queue file "UpgraderQueue.txt": one absolute target per line, each line
// ended by CR LF. For a line L the download waiting for it is L + ".uTMP".
#pragma once

#include <string>
#include <vector>

namespace kelvora::updater {

inline constexpr const char* kQueueFileName = "UpgraderQueue.txt";

// The whole file; "" when it cannot be read.
std::string ReadQueueText(const std::string& Path);

// The lines of Text: each ends at the next CR LF, which is removed with it;
// the rest after the last CR LF is the last line (empty when the text ends
// with CR LF). A lone CR or LF is part of its line.
std::vector<std::string> QueueLines(const std::string& Text);

}  // namespace kelvora::updater
