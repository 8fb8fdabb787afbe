// The loop back-end in force while a host has installed none.
#pragma once

#include <functional>

#include "kelvora/LoopBackend.h"

namespace kelvora::detail {

// Created once and never destroyed: a job stopped at once may still be
// unwinding on its detached thread while the program exits, and it signals
// through here.
TLoopBackend& DefaultLoopBackend();

// Posts Call to the installed back-end from a thread other than the UI
// thread, the back-end held until the post is made: SetLoopBackend does not
// return (and its caller does not destroy the old back-end) while one is
// under way.
void PostFromWorker(std::function<void()> Call);

}  // namespace kelvora::detail
