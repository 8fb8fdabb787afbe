// A NetworkManager stand-in on a private system bus: a dbus-daemon of the
// test's own, and python3-dbusmock's networkmanager template on it with a
// Metered property. While the object lives, DBUS_SYSTEM_BUS_ADDRESS names
// that bus, so the component (and dbus-send) talk to it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/TestFiles.h"
#include "support/TestProcess.h"

namespace kvtest {

class NetworkManagerMock {
 public:
  // NMMetered: 1 yes, 2 no, 3 guessed yes, 4 guessed no, 0 unknown.
  explicit NetworkManagerMock(uint32_t Metered);
  ~NetworkManagerMock();
  NetworkManagerMock(const NetworkManagerMock&) = delete;
  NetworkManagerMock& operator=(const NetworkManagerMock&) = delete;

  void SetMetered(uint32_t Metered);

 private:
  // dbus-send on the private bus to NetworkManager's object; true on success.
  bool Send(const std::string& Method, const std::string& Name, const std::string& Value = "");

  TempDir dir_;
  std::unique_ptr<TestProcess> bus_, mock_;
  std::string savedAddress_;
  bool hadAddress_ = false;
};

}  // namespace kvtest
