// The NetworkManager stand-in (see NetworkManagerMock.h).
#include "support/NetworkManagerMock.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace kvtest {

namespace {

constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=@DIR@/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

}  // namespace

NetworkManagerMock::NetworkManagerMock(uint32_t Metered) {
  std::string config = kBusConfig;
  config.replace(config.find("@DIR@"), 5, dir_.Path());
  WriteTextFile(dir_.File("bus.conf"), config);
  bus_ = std::make_unique<TestProcess>(
      std::vector<std::string>{"dbus-daemon", "--config-file=" + dir_.File("bus.conf"), "--nofork", "--print-address"},
      dir_.File("bus.log"));
  std::string address;
  if (!bus_->ReadLine(address, 10000) || address.empty())
    throw std::runtime_error("dbus-daemon did not start: " + ReadWholeFile(dir_.File("bus.log")));
  if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS")) {
    hadAddress_ = true;
    savedAddress_ = old;
  }
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
  // Debian's interpreter, which has the package (another python3 may come first in PATH).
  mock_ = std::make_unique<TestProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "networkmanager"},
      dir_.File("mock.log"));
  bool up = false;
  for (int i = 0; i < 200 && !up; ++i) {
    up = Send("org.freedesktop.DBus.Properties.Get", "State");
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!up || !Send("org.freedesktop.DBus.Mock.AddProperty", "Metered", "variant:uint32:" + std::to_string(Metered)))
    throw std::runtime_error("the NetworkManager stand-in did not start: " + ReadWholeFile(dir_.File("mock.log")));
}

NetworkManagerMock::~NetworkManagerMock() {
  if (mock_) mock_->Stop();
  if (bus_) bus_->Stop();
  if (hadAddress_)
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", savedAddress_.c_str(), 1);
  else
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

void NetworkManagerMock::SetMetered(uint32_t Metered) {
  if (!Send("org.freedesktop.DBus.Properties.Set", "Metered", "variant:uint32:" + std::to_string(Metered)))
    throw std::runtime_error("cannot set Metered: " + ReadWholeFile(dir_.File("mock.log")));
}

bool NetworkManagerMock::Send(const std::string& Method, const std::string& Name, const std::string& Value) {
  std::vector<std::string> argv{"dbus-send",
                                "--system",
                                "--print-reply",
                                "--reply-timeout=2000",
                                "--dest=org.freedesktop.NetworkManager",
                                "/org/freedesktop/NetworkManager",
                                Method,
                                "string:org.freedesktop.NetworkManager",
                                "string:" + Name};
  if (!Value.empty()) argv.push_back(Value);
  return RunCommand(argv, dir_.File("send.log")) == 0;
}

}  // namespace kvtest
