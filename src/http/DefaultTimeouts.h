// What a time-out of 0 in TkvHTTPTimeouts stands for: a finite limit, so a
// server that accepts and then says nothing cannot keep a transfer busy for
// ever. Process-wide; tests lower them to keep their waits short.
#pragma once

#include <atomic>
#include <cstdint>

namespace kelvora::httpimpl {

struct TDefaultTimeouts {
  std::atomic<uint32_t> Connect{60000};  // milliseconds to set up the connection
  std::atomic<uint32_t> Receive{60000};  // milliseconds without a received byte
  std::atomic<uint32_t> Send{60000};     // milliseconds without a sent byte
};

TDefaultTimeouts& DefaultTimeouts();

// The limit of a setting: the setting itself, or the default for 0.
inline uint32_t EffectiveTimeout(uint32_t Setting, const std::atomic<uint32_t>& Default) {
  return Setting != 0 ? Setting : Default.load();
}

}  // namespace kelvora::httpimpl
