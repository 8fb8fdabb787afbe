// A Windows build given Zstandard's sources must read patches, and one
// without them must say it reads none (the patch tests skip themselves then,
// so this is what keeps a lost library from passing unseen).
#include <gtest/gtest.h>

#include "kelvora/delta/ZstdPatch.h"

TEST(Win32Patch, SupportFollowsTheBuild) {
  EXPECT_EQ(kelvora::delta::PatchesSupported(), KV_EXPECT_PATCHES != 0);
  if (!kelvora::delta::PatchesSupported()) {
    EXPECT_NE(kelvora::delta::ApplyPatch("a", "b", 1, [](const uint8_t*, size_t) { return true; }), "");
  }
}
