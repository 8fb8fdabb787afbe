// The loop back-end in force while a host has installed none.
#pragma once

#include "kelvora/LoopBackend.h"

namespace kelvora::detail {

// Created once and never destroyed: a job stopped at once may still be
// unwinding on its detached thread while the program exits, and it signals
// through here.
TLoopBackend& DefaultLoopBackend();

}  // namespace kelvora::detail
