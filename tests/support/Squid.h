// Debian's squid started by a test as a forward proxy on a free 127.0.0.1
// port, with a private configuration, log and pid folder and no disk cache,
// requiring one login scheme. As the superuser it runs as the "proxy"
// account (squid refuses to run as root), which then owns that folder.
#pragma once

#include <memory>
#include <string>

#include "support/TestProcess.h"

namespace kvtest {

class Squid {
 public:
  enum class Scheme { Basic, Digest, Ntlm };
  struct Options {
    Scheme Login = Scheme::Basic;
    // The one account (any name and password pass NTLM: squid's fake helper).
    std::string User = "proxyuser", Password = "proxy-secret";
  };
  explicit Squid(const Options& Opts);
  ~Squid();
  Squid(const Squid&) = delete;
  Squid& operator=(const Squid&) = delete;

  int Port() const { return port_; }
  // One line a request: "<status> <method> <url> user=<login name or ->".
  std::string AccessLog() const;
  std::string CacheLog() const;

 private:
  std::string dir_;
  std::unique_ptr<TestProcess> proc_;
  int port_ = 0;
};

}  // namespace kvtest
