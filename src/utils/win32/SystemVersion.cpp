#include <windows.h>
#include <versionhelpers.h>

#include "kelvora/kvUtils.h"

namespace kelvora {

// VerifyVersionInfo answers truthfully for this question even without a
// compatibility manifest.
bool IsVersion6OrLater() { return ::IsWindowsVistaOrGreater(); }

}  // namespace kelvora
