#include "framework/DefaultLoop.h"

#include "kelvora/PlainLoop.h"

namespace kelvora::detail {

TLoopBackend& DefaultLoopBackend() {
  static TPlainLoopBackend* plain = new TPlainLoopBackend;
  return *plain;
}

}  // namespace kelvora::detail
