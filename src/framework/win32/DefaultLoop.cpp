// On Windows the default loop runs on the UI thread's message queue, so a
// host's own message loop (and any modal loop) serves hand-offs, posted calls
// and timers.
#include "framework/DefaultLoop.h"

#include "kelvora/win32/kvWin32Loop.h"

namespace kelvora::detail {

TLoopBackend& DefaultLoopBackend() {
  static TWin32LoopBackend* loop = new TWin32LoopBackend;
  return *loop;
}

namespace {
// Created while the program starts, so its window belongs to the UI thread
// even when a worker is the first to ask.
[[maybe_unused]] TLoopBackend& gCreatedAtStart = DefaultLoopBackend();
}  // namespace

}  // namespace kelvora::detail
