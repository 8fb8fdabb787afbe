// Whether the process runs a Qt application (a QCoreApplication exists),
// asked without linking Qt: Core never depends on it. Used to tell a Qt
// program that forgot kelvora::qt::Integration why its check cannot run.
#pragma once

namespace kelvora::detail {

bool QtApplicationRunning();

}  // namespace kelvora::detail
