#include "ReleaseControl.h"

#include <algorithm>
#include <sstream>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/trust/TrustFormat.h"

namespace publish {

uint64_t NextSequence(const std::optional<std::string>& Previous, int64_t Now) {
  uint64_t next = Now > 0 ? static_cast<uint64_t>(Now) : 1;
  if (Previous)
    if (const std::optional<uint64_t> before = kelvora::ParseReleaseInfo(*Previous).Sequence)
      next = std::max(next, *before + 1);
  return next;
}

std::string WithControlKeys(const std::string& Text, const std::string& Rollout, uint64_t Sequence) {
  std::string body = Text;
  if (const auto parts = kelvora::trust::SplitSignature(Text)) body.assign(parts->Covered);
  std::string out = "#rollout=" + Rollout + "\n#sequence=" + std::to_string(Sequence) + "\n";
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    if (lower.find("#rollout=") != std::string::npos || lower.find("#sequence=") != std::string::npos) continue;
    out += line + "\n";
  }
  return out;
}

}  // namespace publish
