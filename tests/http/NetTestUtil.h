// Helpers for the internet-client tests: a request built from a URL, the
// body read to its end, and a status recorder.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "http/net/NetRequest.h"

namespace kvtest {

struct NetTarget {
  std::shared_ptr<kelvora::net::TNetClient> Client;
  std::shared_ptr<kelvora::net::TNetSession> Session;
  std::shared_ptr<kelvora::net::TNetConnection> Connection;
  std::unique_ptr<kelvora::net::TNetRequest> Request;
};

// Records status notifications (any thread).
class StatusLog {
 public:
  kelvora::net::TStatusCallback Callback();
  std::vector<uint32_t> Codes() const;
  std::vector<std::string> Texts(uint32_t Code) const;
  bool Has(uint32_t Code) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<uint32_t, std::string>> entries_;
};

// Opens a request for Url ("http[s]://host:port/path?query") with the given
// method and flags. Client may be shared between calls (connection cache).
NetTarget OpenRequest(const std::string& Url, uint32_t Flags = kelvora::net::flKeepConnection,
                      const std::string& Method = "GET", std::shared_ptr<kelvora::net::TNetClient> Client = nullptr,
                      StatusLog* Log = nullptr,
                      kelvora::net::TAccessType Access = kelvora::net::TAccessType::Direct,
                      const std::string& Proxy = "");

// What a failed call of a request came to, in terms both client layers
// can tell (curl/ and wininet/ hold the mapping of each).
enum class TFailure {
  None,           // no failure
  PartialBody,    // the body ended before its announced length
  NoResponse,     // the connection closed before a status line
  NotHttp,        // the answer was not HTTP
  CannotConnect,  // nobody listening
  Certificate,    // the server's certificate was refused
  Other,
};
TFailure FailureOf(const kelvora::net::TNetRequest& Request);

// Reads the body in blocks of BlockSize to its end. Ok tells whether the end
// was reached without a failed read.
struct BodyResult {
  std::string Data;
  bool Ok = false;
  int Blocks = 0;
  bool AllBlocksFull = true;  // every block but the last filled completely
};
BodyResult ReadBody(kelvora::net::TNetRequest& Request, size_t BlockSize);

}  // namespace kvtest
