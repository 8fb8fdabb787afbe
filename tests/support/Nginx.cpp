#include "support/Nginx.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/Loopback.h"

namespace kvtest {

namespace {

std::string Trim(std::string S) {
  while (!S.empty() && (S.back() == '\n' || S.back() == '\r' || S.back() == ' ')) S.pop_back();
  return S;
}

std::string OpenSslPasswd(const std::string& Password, const std::string& Folder) {
  const std::string out = Folder + "/passwd.out";
  if (RunCommand({"sh", "-c", "openssl passwd -apr1 \"$0\" > \"$1\"", Password, out}) != 0)
    throw std::runtime_error("openssl passwd failed");
  return Trim(ReadWholeFile(out));
}

}  // namespace

TestCertificate MakeCertificate(const std::string& Folder, const std::string& AltNames) {
  TestCertificate c{Folder + "/cert.pem", Folder + "/key.pem"};
  int rc = RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-keyout", c.KeyFile, "-out", c.CertFile, "-days", "2", "-subj", "/CN=kelvora-test",
                       "-addext", "subjectAltName=" + AltNames},
                      Folder + "/openssl.log");
  if (rc != 0) throw std::runtime_error("openssl req failed: " + ReadWholeFile(Folder + "/openssl.log"));
  return c;
}

Nginx::Nginx() : Nginx(Options{}) {}

Nginx::Nginx(const Options& Opts) : opts_(Opts) {
  std::filesystem::create_directories(Root() + "/private");
  std::filesystem::create_directories(dir_.File("tmp"));
  WriteTextFile(dir_.File("htpasswd"), opts_.User + ":" + OpenSslPasswd(opts_.Password, dir_.Path()) + "\n");
  if (opts_.Tls) cert_ = MakeCertificate(dir_.Path(), opts_.TlsAltNames);
  // A port picked free may be taken before nginx binds it: try again.
  for (int attempt = 0;; ++attempt) {
    try {
      Start();
      return;
    } catch (const std::exception&) {
      if (attempt == 3) throw;
    }
  }
}

Nginx::~Nginx() {
  if (proc_) proc_->Stop();
}

void Nginx::Start() {
  port_ = FreeLoopbackPort();
  tlsPort_ = opts_.Tls ? FreeLoopbackPort() : 0;
  // nginx reads its configuration with this system's paths.
  const std::string d = NativePath(dir_.Path());
  std::ostringstream c;
  std::string user, group;
  if (ProgramAccount(user, group)) {
    // Workers would otherwise drop to an account that cannot read our folder.
    c << "user " << user << " " << group << ";\n";
  }
  c << "worker_processes 1;\n"
    << "pid " << d << "/nginx.pid;\n"
    << "error_log " << d << "/error.log warn;\n"
    << "events { worker_connections 512; }\n"
    << "http {\n"
    << "  log_format kv '$request $status $body_bytes_sent range=$http_range if_range=$http_if_range';\n"
    << "  access_log " << d << "/access.log kv;\n"
    << "  log_format kvlogins '$request authorization=$http_authorization "
       "proxy_authorization=$http_proxy_authorization';\n"
    << "  access_log " << d << "/logins.log kvlogins;\n"
    << "  client_body_temp_path " << d << "/tmp/body;\n"
    << "  proxy_temp_path " << d << "/tmp/proxy;\n"
    << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
    << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
    << "  scgi_temp_path " << d << "/tmp/scgi;\n"
    << "  types { text/html html; text/plain txt; application/octet-stream bin zip; }\n"
    << "  default_type application/octet-stream;\n"
    << "  sendfile on;\n"
    << "  keepalive_requests 100000;\n"
    << "  keepalive_timeout 60s;\n"
    << "  server {\n"
    << "    listen 127.0.0.1:" << port_ << ";\n"
    << "    root " << NativePath(Root()) << ";\n"
    << "    location /private/ { auth_basic \"Area 51\"; auth_basic_user_file " << d << "/htpasswd; }\n"
    << opts_.ExtraServer << "\n"
    << "  }\n";
  if (opts_.Tls) {
    c << "  server {\n"
      << "    listen 127.0.0.1:" << tlsPort_ << " ssl;\n"
      << "    ssl_certificate " << NativePath(cert_.CertFile) << ";\n"
      << "    ssl_certificate_key " << NativePath(cert_.KeyFile) << ";\n"
      << "    root " << NativePath(Root()) << ";\n"
      << opts_.ExtraTlsServer << "\n"
      << "  }\n";
  }
  c << "}\n";
  WriteTextFile(dir_.File("nginx.conf"), c.str());
  proc_ = std::make_unique<TestProcess>(
      std::vector<std::string>{"nginx", "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf", "-g", "daemon off;"},
      dir_.File("stderr.log"));
  const bool up = WaitForListener(port_, 10000) && (!opts_.Tls || WaitForListener(tlsPort_, 10000));
  if (!up || !proc_->Alive()) {
    proc_->Stop();
    proc_.reset();
    throw std::runtime_error("nginx did not start: " + ErrorLog() + ReadWholeFile(dir_.File("stderr.log")));
  }
}

void Nginx::AddPatternFile(const std::string& Name, uint64_t Size) const { WritePatternFile(Root() + "/" + Name, Size); }

void Nginx::AddTextFile(const std::string& Name, const std::string& Text) const { WriteTextFile(Root() + "/" + Name, Text); }

std::string Nginx::Url(const std::string& Path) const { return "http://127.0.0.1:" + std::to_string(port_) + Path; }

std::string Nginx::TlsUrl(const std::string& Path, const std::string& Host) const {
  return "https://" + Host + ":" + std::to_string(tlsPort_) + Path;
}

std::string Nginx::ErrorLog() const { return ReadWholeFile(dir_.File("error.log")); }
std::string Nginx::AccessLog() const { return ReadWholeFile(dir_.File("access.log")); }
std::string Nginx::LoginLog() const { return ReadWholeFile(dir_.File("logins.log")); }


}  // namespace kvtest
