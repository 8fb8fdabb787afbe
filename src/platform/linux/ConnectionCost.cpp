// NetworkManager's Metered property over D-Bus. libsystemd is loaded when
// first needed, so that the library runs (answering Unknown) where there is
// no systemd; sd_bus_open_system follows DBUS_SYSTEM_BUS_ADDRESS.
#include "platform/ConnectionCost.h"

#include <dlfcn.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <mutex>

namespace kelvora::platform {

namespace {

// NMMetered: 1 yes, 3 guessed yes; 2 no, 4 guessed no; 0 unknown.
constexpr uint32_t kMeteredYes = 1, kMeteredNo = 2, kMeteredGuessYes = 3, kMeteredGuessNo = 4;
constexpr uint64_t kCallTimeoutUsec = 2'000'000;

struct TSdBus {
  decltype(&sd_bus_open_system) OpenSystem = nullptr;
  decltype(&sd_bus_set_method_call_timeout) SetTimeout = nullptr;
  decltype(&sd_bus_get_property_trivial) GetTrivial = nullptr;
  decltype(&sd_bus_flush_close_unref) Close = nullptr;
  decltype(&sd_bus_error_free) ErrorFree = nullptr;
  bool Loaded() const { return OpenSystem && SetTimeout && GetTrivial && Close && ErrorFree; }
};

const TSdBus& SdBus() {
  static TSdBus bus;
  static std::once_flag once;
  std::call_once(once, [] {
    // Kept loaded for the life of the process.
    void* lib = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    bus.OpenSystem = reinterpret_cast<decltype(bus.OpenSystem)>(::dlsym(lib, "sd_bus_open_system"));
    bus.SetTimeout = reinterpret_cast<decltype(bus.SetTimeout)>(::dlsym(lib, "sd_bus_set_method_call_timeout"));
    bus.GetTrivial = reinterpret_cast<decltype(bus.GetTrivial)>(::dlsym(lib, "sd_bus_get_property_trivial"));
    bus.Close = reinterpret_cast<decltype(bus.Close)>(::dlsym(lib, "sd_bus_flush_close_unref"));
    bus.ErrorFree = reinterpret_cast<decltype(bus.ErrorFree)>(::dlsym(lib, "sd_bus_error_free"));
  });
  return bus;
}

}  // namespace

TConnectionCost ConnectionCost() {
  const TSdBus& api = SdBus();
  if (!api.Loaded()) return TConnectionCost::Unknown;
  sd_bus* bus = nullptr;
  if (api.OpenSystem(&bus) < 0 || bus == nullptr) return TConnectionCost::Unknown;
  api.SetTimeout(bus, kCallTimeoutUsec);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t metered = 0;
  const int rc = api.GetTrivial(bus, "org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager",
                                "org.freedesktop.NetworkManager", "Metered", &error, 'u', &metered);
  api.ErrorFree(&error);
  api.Close(bus);
  if (rc < 0) return TConnectionCost::Unknown;
  if (metered == kMeteredYes || metered == kMeteredGuessYes) return TConnectionCost::Metered;
  if (metered == kMeteredNo || metered == kMeteredGuessNo) return TConnectionCost::Unmetered;
  return TConnectionCost::Unknown;
}

}  // namespace kelvora::platform
