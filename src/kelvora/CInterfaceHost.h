// The C interface's kelvora::Updater: its host serves the loop itself
// (kelvora_run, kelvora_process_messages) and cannot install the Qt
// integration, so the front door leaves out its check for one. Set only
// while the C interface constructs its Updater.
#pragma once

namespace kelvora::detail {

class TCInterfaceHost {
 public:
  TCInterfaceHost() { active_ = true; }
  ~TCInterfaceHost() { active_ = false; }
  TCInterfaceHost(const TCInterfaceHost&) = delete;
  TCInterfaceHost& operator=(const TCInterfaceHost&) = delete;
  static bool Active() { return active_; }

 private:
  static inline thread_local bool active_ = false;
};

}  // namespace kelvora::detail
