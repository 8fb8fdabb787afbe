// The updater program compiled into the library, as the engine reads it.
#include <gtest/gtest.h>

#include "kelvora/Streams.h"
#include "kelvora/UpdaterProgram.h"
#include "kelvora/kvUtils.h"
#include "platform/Resources.h"
#include "updater/UpdaterHarness.h"

namespace kvtest {
namespace {

std::string ResourceBytes() {
  kelvora::TMemoryStream s;
  kelvora::SaveResourceToStream(kelvora::HInstance, "KVLOR", "KVLOR", &s);
  return s.ToString();
}

TEST(UpdaterEmbedding, TheBuiltProgramIsTheResourceUnlessAHostRegisteredItsOwn) {
  kelvora::platform::UnregisterResource("KVLOR", "KVLOR");
  kelvora::detail::RegisterUpdaterProgram();
  EXPECT_EQ(ResourceBytes(), ReadWholeFile(UpdaterExe())) << "byte for byte";

  static const char kOwn[] = "#!/bin/sh\n";
  kelvora::platform::RegisterResource("KVLOR", "KVLOR", kOwn, sizeof kOwn - 1);
  kelvora::detail::RegisterUpdaterProgram();
  EXPECT_EQ(ResourceBytes(), kOwn);
  // Removed again, the next registration brings the program back.
  kelvora::platform::UnregisterResource("KVLOR", "KVLOR");
  kelvora::detail::RegisterUpdaterProgram();
  EXPECT_EQ(ResourceBytes(), ReadWholeFile(UpdaterExe()));
}

}  // namespace
}  // namespace kvtest
