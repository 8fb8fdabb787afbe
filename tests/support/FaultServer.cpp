#include "support/FaultServer.h"

#include <stdexcept>

#include "support/Loopback.h"

#ifndef KV_TEST_SUPPORT_DIR
#error KV_TEST_SUPPORT_DIR must name the folder of fault_server.py
#endif

namespace kvtest {

std::string FaultServer::ScriptPath() { return std::string(KV_TEST_SUPPORT_DIR) + "/fault_server.py"; }

FaultServer::FaultServer() : FaultServer(Options{}) {}

FaultServer::FaultServer(const Options& Opts) {
  std::vector<std::string> argv = {"python3", "-u", ScriptPath(), "--port", "0", "--proxy-login", Opts.ProxyLogin};
  if (!Opts.TlsCert.empty()) {
    argv.insert(argv.end(), {"--tls", Opts.TlsCert, Opts.TlsKey});
    tls_ = true;
  }
  proc_ = std::make_unique<TestProcess>(argv, dir_.File("server.log"));
  std::string line;
  if (!proc_->ReadLine(line, 15000) || line.rfind("PORT ", 0) != 0)
    throw std::runtime_error("fault server did not start: " + Log());
  port_ = std::stoi(line.substr(5));
  if (!WaitForListener(port_, 5000)) throw std::runtime_error("fault server does not listen");
}

FaultServer::~FaultServer() { proc_->Stop(); }

std::string FaultServer::Url(const std::string& Path) const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + Path;
}

std::string FaultServer::Log() const { return ReadWholeFile(dir_.File("server.log")); }

}  // namespace kvtest
