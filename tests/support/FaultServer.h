// The scripted fault-injecting HTTP server (fault_server.py, which lists its
// routes), started on a free 127.0.0.1 port for the lifetime of the object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/TestFiles.h"
#include "support/TestProcess.h"

namespace kvtest {

class FaultServer {
 public:
  struct Options {
    // Serve https with this certificate and key (PEM files).
    std::string TlsCert, TlsKey;
    // Login a proxy request must carry ("user:pass").
    std::string ProxyLogin = "proxyuser:proxypass";
  };
  FaultServer();
  explicit FaultServer(const Options& Opts);
  ~FaultServer();

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" (https with TLS) followed by Path.
  std::string Url(const std::string& Path) const;
  // The server's stderr, for failure messages.
  std::string Log() const;

  static std::string ScriptPath();

 private:
  TempDir dir_;
  std::unique_ptr<TestProcess> proc_;
  int port_ = 0;
  bool tls_ = false;
};

}  // namespace kvtest
