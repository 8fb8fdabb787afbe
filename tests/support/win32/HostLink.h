// The line to the process host (process_host.py) that started this test
// run: one JSON request, one JSON answer per connection over 127.0.0.1.
#pragma once

#include <nlohmann/json.hpp>

namespace kvtest {

// Throws std::runtime_error when there is no host or it cannot be reached.
nlohmann::json AskProcessHost(const nlohmann::json& Request);

// Winsock started once for the process.
void EnsureWinsock();

}  // namespace kvtest
