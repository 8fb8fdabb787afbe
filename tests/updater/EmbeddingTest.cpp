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
  const std::string shipped = ReadWholeFile(KV_SHIPPED_UPDATER_EXE);
  EXPECT_EQ(ResourceBytes(), shipped) << "byte for byte";
  // The shipped updater reads none of the tests' fault hooks; their copy does.
  for (const char* hook : {"KELVORA_UPDATER_KILL", "KELVORA_UPDATER_FAIL_AT", "KELVORA_UPDATER_WAIT_MS"}) {
    EXPECT_EQ(shipped.find(hook), std::string::npos) << hook;
    EXPECT_NE(ReadWholeFile(UpdaterExe()).find(hook), std::string::npos) << hook;
  }

  static const char kOwn[] = "#!/bin/sh\n";
  kelvora::platform::RegisterResource("KVLOR", "KVLOR", kOwn, sizeof kOwn - 1);
  kelvora::detail::RegisterUpdaterProgram();
  EXPECT_EQ(ResourceBytes(), kOwn);
  // Removed again, the next registration brings the program back.
  kelvora::platform::UnregisterResource("KVLOR", "KVLOR");
  kelvora::detail::RegisterUpdaterProgram();
  EXPECT_EQ(ResourceBytes(), shipped);
}

}  // namespace
}  // namespace kvtest
