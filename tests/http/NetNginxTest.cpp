// The internet-client layer against nginx: ranges on real files, basic
// auth with an htpasswd file, Last-Modified and ETag, and TLS with a
// certificate made for the test (refused by default; each ignore option
// relaxes only the check it names).
#include <gtest/gtest.h>

#include "http/NetTestUtil.h"
#include "support/Nginx.h"

using namespace kelvora::net;
using namespace kvtest;

namespace {

class NetNginx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Nginx::Options o;
    o.Tls = true;
    o.TlsAltNames = "DNS:localhost";
    // https -> http redirect for the refusal check; the plain port is only
    // known once nginx runs, so the target is a fixed path on the TLS port
    // rewritten to plain http.
    o.ExtraTlsServer = "location = /to-http { return 302 http://$host:$arg_port/file.bin; }";
    nginx_ = new Nginx(o);
    nginx_->AddPatternFile("file.bin", 300000);
    nginx_->AddPatternFile("private/secret.bin", 1234);
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  static Nginx* nginx_;
};
Nginx* NetNginx::nginx_ = nullptr;

std::string Query(TNetRequest& R, uint32_t Level) {
  std::string v;
  return R.QueryInfo(Level, v) ? v : std::string("<absent>");
}

TEST_F(NetNginx, RangesValidatorsAndLogin) {
  auto t = OpenRequest(nginx_->Url("/file.bin"));
  ASSERT_TRUE(t.Request->AddHeaders("RANGE: bytes=1000-\r\n", hmAdd));
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "206");
  EXPECT_EQ(Query(*t.Request, qiContentRange), "bytes 1000-299999/300000");
  EXPECT_EQ(Query(*t.Request, qiContentLength), "299000");
  EXPECT_NE(Query(*t.Request, qiLastModified), "<absent>");
  EXPECT_NE(Query(*t.Request, qiETag), "<absent>");
  EXPECT_EQ(ReadBody(*t.Request, 65536).Data, PatternBytes(1000, 299000));

  // Beyond the end: 416 with the full size.
  auto e = OpenRequest(nginx_->Url("/file.bin"));
  e.Request->AddHeaders("Range: bytes=300000-", hmAdd);
  ASSERT_TRUE(e.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*e.Request, qiStatusCode), "416");
  EXPECT_EQ(Query(*e.Request, qiContentRange), "bytes */300000");

  auto p = OpenRequest(nginx_->Url("/private/secret.bin"));
  ASSERT_TRUE(p.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*p.Request, qiStatusCode), "401");
  EXPECT_EQ(Query(*p.Request, qiWWWAuthenticate), "Basic realm=\"Area 51\"");
  p.Request->SetOption(optUsername, nginx_->Opts().User);
  p.Request->SetOption(optPassword, nginx_->Opts().Password);
  ASSERT_TRUE(p.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*p.Request, qiStatusCode), "200");
  EXPECT_EQ(ReadBody(*p.Request, 4096).Data, PatternBytes(0, 1234));
}

// Sends a GET to the TLS server; None when the whole answer came.
TFailure TlsGet(const std::string& Url, uint32_t Flags, uint32_t Security, std::shared_ptr<TNetClient> Client) {
  auto t = OpenRequest(Url, Flags, "GET", Client);
  if (Security != 0) t.Request->SetOption(optSecurityFlags, Security);
  if (!t.Request->Send("", nullptr, 0)) return FailureOf(*t.Request);
  auto body = ReadBody(*t.Request, 65536);
  return body.Ok && body.Data == PatternBytes(0, 300000) ? TFailure::None : TFailure::Other;
}

TEST_F(NetNginx, CertificateChecksAreRelaxedOnlyAsNamed) {
  auto client = std::make_shared<TNetClient>();
  const std::string byIp = nginx_->TlsUrl("/file.bin");               // name does not match
  const std::string byName = nginx_->TlsUrl("/file.bin", "localhost");  // name matches
  const uint32_t keep = flKeepConnection;
  // Self-signed: refused by default, whatever the name.
  EXPECT_EQ(TlsGet(byName, keep, 0, client), TFailure::Certificate);
  EXPECT_EQ(TlsGet(byIp, keep, 0, client), TFailure::Certificate);
  // Unknown authority forgiven: the matching name passes, the other does not.
  EXPECT_EQ(TlsGet(byName, keep, secIgnoreUnknownCA, client), TFailure::None);
  EXPECT_EQ(TlsGet(byIp, keep, secIgnoreUnknownCA, client), TFailure::Certificate);
  // Name forgiven alone: the authority is still unknown.
  EXPECT_EQ(TlsGet(byIp, keep | flIgnoreCertCNInvalid, 0, client), TFailure::Certificate);
  // A date check relaxation does not cover an unknown authority either.
  EXPECT_EQ(TlsGet(byName, keep | flIgnoreCertDateInvalid, 0, client), TFailure::Certificate);
  // Both relaxed: accepted.
  EXPECT_EQ(TlsGet(byIp, keep | flIgnoreCertCNInvalid, secIgnoreUnknownCA, client), TFailure::None);
  // What was accepted with relaxed checks never carries over to a strict
  // request of the same client (no reused connection, no resumed session).
  EXPECT_EQ(TlsGet(byName, keep, 0, client), TFailure::Certificate);
}

TEST_F(NetNginx, RedirectFromHttpsToHttpIsRefusedUnlessAllowed) {
  const std::string from = nginx_->TlsUrl("/to-http?port=" + std::to_string(nginx_->Port()), "localhost");
  StatusLog log;
  auto t = OpenRequest(from, flKeepConnection, "GET", nullptr, &log);
  t.Request->SetOption(optSecurityFlags, secIgnoreUnknownCA);
  EXPECT_FALSE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(t.Request->LastError(), TNetError::RedirectRefused);
  EXPECT_FALSE(log.Has(stRedirect));

  auto ok = OpenRequest(from, flKeepConnection | flIgnoreRedirectToHTTP, "GET", nullptr, &log);
  ok.Request->SetOption(optSecurityFlags, secIgnoreUnknownCA);
  ASSERT_TRUE(ok.Request->Send("", nullptr, 0)) << ok.Request->ErrorText();
  EXPECT_EQ(Query(*ok.Request, qiStatusCode), "200");
  EXPECT_EQ(log.Texts(stRedirect), std::vector<std::string>{nginx_->Url("/file.bin").replace(7, 9, "localhost")});
}

}  // namespace
