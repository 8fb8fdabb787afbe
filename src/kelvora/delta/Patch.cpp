#include "kelvora/delta/Patch.h"

#include <algorithm>

#include "kelvora/FileCalls.h"
#include "kelvora/delta/MatchPatch.h"
#include "kelvora/delta/MatchPatchFormat.h"
#include "kelvora/delta/ZstdPatch.h"

namespace kelvora::delta {

std::string ApplyPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                       const TPatchSink& Sink) {
#if KELVORA_HAS_ZSTD
  std::string head;
  if (!detail::ReadInChunks(PatchPath, [&](const char* Data, std::size_t Size) {
        head.append(Data, std::min(Size, kMatchMagic.size() - head.size()));
        return head.size() < kMatchMagic.size();
      }))
    return PatchPath + ": cannot be read";
  if (head == kMatchMagic) return ApplyMatchPatch(BasePath, PatchPath, ExpectedSize, Sink);
  return ApplyZstdPatch(BasePath, PatchPath, ExpectedSize, Sink);
#else
  (void)BasePath, (void)PatchPath, (void)ExpectedSize, (void)Sink;
  return "this build reads no patches";
#endif
}

}  // namespace kelvora::delta
