// Squid for the proxy login tests (see Squid.h).
#include "support/Squid.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/Loopback.h"
#include "support/TestFiles.h"

namespace kvtest {

namespace {

constexpr const char* kHelpers = "/usr/lib/squid/";
constexpr const char* kRealm = "kv-proxy";

}  // namespace

Squid::Squid(const Options& Opts) {
  // Under /tmp, not the test's private folder: the proxy account must reach it.
  char pattern[] = "/tmp/kv-squid-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("squid: no folder");
  dir_ = pattern;
  port_ = FreeLoopbackPort();
  WriteTextFile(dir_ + "/passwd", Opts.User + ":" + Opts.Password + "\n");
  if (Opts.Login == Scheme::Basic) {
    // basic_ncsa_auth reads crypt hashes: openssl makes one.
    const std::string hash = dir_ + "/hash";
    if (RunCommand({"openssl", "passwd", "-apr1", Opts.Password}, hash) != 0)
      throw std::runtime_error("squid: openssl passwd failed");
    WriteTextFile(dir_ + "/htpasswd", Opts.User + ":" + ReadWholeFile(hash));
  }
  std::ostringstream c;
  c << "http_port 127.0.0.1:" << port_ << "\n"
    << "pid_filename " << dir_ << "/squid.pid\n"
    << "cache_log " << dir_ << "/cache.log\n"
    << "logformat kv %>Hs %rm %ru user=%un\n"
    << "access_log stdio:" << dir_ << "/access.log kv\n"
    << "cache_store_log none\n"
    << "coredump_dir " << dir_ << "\n"
    << "netdb_filename none\n"
    << "pinger_enable off\n"
    << "cache deny all\n"
    << "cache_mem 8 MB\n"
    << "visible_hostname kv-proxy.test\n"
    << "via off\n"
    << "forwarded_for delete\n"
    << "shutdown_lifetime 0 seconds\n"
    << "dns_nameservers 127.0.0.1\n";
  switch (Opts.Login) {
    case Scheme::Basic:
      c << "auth_param basic program " << kHelpers << "basic_ncsa_auth " << dir_ << "/htpasswd\n"
        << "auth_param basic realm " << kRealm << "\n";
      break;
    case Scheme::Digest:
      c << "auth_param digest program " << kHelpers << "digest_file_auth " << dir_ << "/passwd\n"
        << "auth_param digest realm " << kRealm << "\n";
      break;
    case Scheme::Ntlm:
      c << "auth_param ntlm program " << kHelpers << "ntlm_fake_auth\n";
      break;
  }
  c << "acl login proxy_auth REQUIRED\n"
    << "http_access allow login\n"
    << "http_access deny all\n";
  if (::geteuid() == 0) {
    c << "cache_effective_user proxy\n";
    if (const passwd* pw = ::getpwnam("proxy")) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_))
        if (::chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("squid: chown");
      if (::chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("squid: chown");
    }
  }
  WriteTextFile(dir_ + "/squid.conf", c.str());
  proc_ = std::make_unique<TestProcess>(std::vector<std::string>{"/usr/sbin/squid", "-N", "-f", dir_ + "/squid.conf"},
                                        dir_ + "/stderr.log");
  if (!WaitForListener(port_, 20000) || !proc_->Alive()) {
    proc_->Stop();
    throw std::runtime_error("squid did not start: " + ReadWholeFile(dir_ + "/stderr.log") + CacheLog());
  }
}

Squid::~Squid() {
  if (proc_) proc_->Stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string Squid::AccessLog() const { return ReadWholeFile(dir_ + "/access.log"); }
std::string Squid::CacheLog() const { return ReadWholeFile(dir_ + "/cache.log"); }

}  // namespace kvtest
