#include "kelvora/UpdaterProgram.h"
#include "platform/Resources.h"

namespace kelvora::detail {

void RegisterUpdaterProgram() {
  platform::TResourceBlock existing;
  if (!platform::FindResource("KVLOR", "KVLOR", existing))
    platform::RegisterResource("KVLOR", "KVLOR", kUpdaterProgram, kUpdaterProgramSize);
}

}  // namespace kelvora::detail
