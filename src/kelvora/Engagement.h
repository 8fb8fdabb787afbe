// Marks one of the engine's own steps that serve the loop (a check-only
// wait, the handling of an info file with its question, the completion
// page) for as long as it runs, exceptions included. A handler may free the
// component meanwhile; the count is then left alone.
#pragma once

#include <memory>

namespace kelvora {

class TEngagement {
 public:
  TEngagement(int& Counter, std::weak_ptr<bool> Alive) : counter_(Counter), alive_(std::move(Alive)) { ++counter_; }
  ~TEngagement() {
    if (!alive_.expired()) --counter_;
  }
  TEngagement(const TEngagement&) = delete;
  TEngagement& operator=(const TEngagement&) = delete;

 private:
  int& counter_;
  std::weak_ptr<bool> alive_;
};

}  // namespace kelvora
