// nginx started by a test as the current user on free 127.0.0.1 ports, with
// a generated configuration in a private folder: static files from Root(),
// ranges, Last-Modified and ETag (nginx's own), a basic-auth area
// "/private/" (realm "Area 51", htpasswd made with openssl passwd -apr1),
// and optionally a TLS server with a certificate generated for the test.
#pragma once

#include <memory>
#include <string>

#include "support/TestFiles.h"
#include "support/TestProcess.h"

namespace kvtest {

// A self-signed certificate made with openssl req -x509 for the names given
// as subjectAltName (for example "DNS:localhost").
struct TestCertificate {
  std::string CertFile, KeyFile;
};
TestCertificate MakeCertificate(const std::string& Folder, const std::string& AltNames);

class Nginx {
 public:
  struct Options {
    bool Tls = false;
    std::string TlsAltNames = "DNS:localhost";
    std::string User = "kv", Password = "secret";
    // Extra directives inside the plain and the TLS server blocks.
    std::string ExtraServer, ExtraTlsServer;
  };
  Nginx();
  explicit Nginx(const Options& Opts);
  ~Nginx();

  // Folder served at "/" (no trailing "/").
  std::string Root() const { return dir_.File("www"); }
  // Creates Root()/Name with Size pattern bytes, or with Text.
  void AddPatternFile(const std::string& Name, uint64_t Size) const;
  void AddTextFile(const std::string& Name, const std::string& Text) const;

  int Port() const { return port_; }
  int TlsPort() const { return tlsPort_; }
  std::string Url(const std::string& Path) const;
  std::string TlsUrl(const std::string& Path, const std::string& Host = "127.0.0.1") const;
  const Options& Opts() const { return opts_; }
  std::string ErrorLog() const;
  // One line a request: "<request line> <status> <body bytes> range=<Range>
  // if_range=<If-Range>" ("-" for a header not sent).
  std::string AccessLog() const;
  // One line a request: "<request line> authorization=<Authorization>
  // proxy_authorization=<Proxy-Authorization>" ("-" for a header not sent).
  std::string LoginLog() const;
  const TestCertificate& Certificate() const { return cert_; }

 private:
  void Start();

  TempDir dir_;
  Options opts_;
  std::unique_ptr<TestProcess> proc_;
  TestCertificate cert_;
  int port_ = 0, tlsPort_ = 0;
};

}  // namespace kvtest
