// The internet-client layer against the scripted fault server: pull reads,
// bodies of every shape, failures told apart, status notifications,
// redirects, logins, uploads, cookies, time-outs and cancellation.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "http/NetTestUtil.h"
#include "support/FaultServer.h"

using namespace kelvora::net;
using namespace kvtest;

namespace {

class NetLayer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new FaultServer(); }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static std::string Url(const std::string& Path) { return server_->Url(Path); }
  static FaultServer* server_;
};
FaultServer* NetLayer::server_ = nullptr;

std::string Query(TNetRequest& R, uint32_t Level) {
  std::string v;
  return R.QueryInfo(Level, v) ? v : std::string("<absent>");
}

TEST_F(NetLayer, BodyIsPulledInFullBlocksAndEndsWithZero) {
  auto t = OpenRequest(Url("/bytes?n=100000&type=text/x-test"));
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "200");
  EXPECT_EQ(Query(*t.Request, qiContentLength), "100000");
  EXPECT_EQ(Query(*t.Request, qiContentType), "text/x-test");
  EXPECT_EQ(Query(*t.Request, qiETag), "<absent>");
  auto body = ReadBody(*t.Request, 4096);
  ASSERT_TRUE(body.Ok) << t.Request->ErrorText();
  EXPECT_EQ(body.Blocks, 25);  // 24 full blocks and 1696 bytes
  EXPECT_TRUE(body.AllBlocksFull);
  EXPECT_EQ(body.Data, PatternBytes(0, 100000));
  // After the end every further read reports the end again.
  char c;
  size_t n = 7;
  EXPECT_TRUE(t.Request->Read(&c, 1, n));
  EXPECT_EQ(n, 0u);
}

TEST_F(NetLayer, OddAndTinyBlocksReassembleTheBody) {
  // Blocks far smaller and far larger than what the client receives at a
  // time: every byte must be handed over in order.
  for (size_t block : {size_t{1}, size_t{255}, size_t{16385}, size_t{200000}}) {
    auto t = OpenRequest(Url("/bytes?n=150000"));
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    auto body = ReadBody(*t.Request, block);
    ASSERT_TRUE(body.Ok) << block;
    EXPECT_EQ(body.Data, PatternBytes(0, 150000)) << block;
    EXPECT_TRUE(body.AllBlocksFull) << block;
  }
}

TEST_F(NetLayer, BodyFarLargerThanTheHoldBackBufferArrivesWhole) {
  // Over a megabyte read slowly in odd blocks: the held-back remainder grows
  // from its first size, fills up, pauses the transfer and is refilled when
  // resumed, many times over, without losing or reordering a byte.
  const size_t holdBack = 256 * 1024;  // the libcurl layer's hold-back buffer
  const size_t size = 4 * holdBack + 12345;
  for (size_t block : {size_t{3}, size_t{4096}, holdBack + 1}) {
    auto t = OpenRequest(Url("/bytes?n=" + std::to_string(size)));
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    auto body = ReadBody(*t.Request, block);
    ASSERT_TRUE(body.Ok) << block;
    EXPECT_EQ(body.Data, PatternBytes(0, size)) << block;
    EXPECT_TRUE(body.AllBlocksFull) << block;
  }
}

TEST_F(NetLayer, BodiesWithoutLengthChunkedAndOverlong) {
  {
    auto t = OpenRequest(Url("/nolength?n=30000"));
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    EXPECT_EQ(Query(*t.Request, qiContentLength), "<absent>");
    auto body = ReadBody(*t.Request, 4096);
    EXPECT_TRUE(body.Ok);
    EXPECT_EQ(body.Data, PatternBytes(0, 30000));
  }
  {
    auto t = OpenRequest(Url("/chunked?n=50000&chunk=777"));
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    auto body = ReadBody(*t.Request, 4096);
    EXPECT_TRUE(body.Ok);
    EXPECT_EQ(body.Data, PatternBytes(0, 50000));
  }
  {
    // Bytes beyond Content-Length are not part of the body.
    auto t = OpenRequest(Url("/overlong?n=3000&extra=900"));
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    auto body = ReadBody(*t.Request, 4096);
    EXPECT_TRUE(body.Ok);
    EXPECT_EQ(body.Data, PatternBytes(0, 3000));
  }
}

TEST_F(NetLayer, EndErrorAndTransportFailureAreToldApart) {
  // Truncated body: the bytes that came are handed out, then the read fails
  // as a partial body.
  auto t = OpenRequest(Url("/truncated?n=10000&send=3000"));
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  auto body = ReadBody(*t.Request, 1024);
  EXPECT_FALSE(body.Ok);
  EXPECT_EQ(body.Data, PatternBytes(0, 3000));
  EXPECT_EQ(t.Request->LastError(), TNetError::Transport);
  EXPECT_EQ(FailureOf(*t.Request), TFailure::PartialBody);

  // A huge announced length with a short body fails the same way.
  auto h = OpenRequest(Url("/hugelength?len=2147483648&send=5000"));
  ASSERT_TRUE(h.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*h.Request, qiContentLength), "2147483648");
  EXPECT_FALSE(ReadBody(*h.Request, 4096).Ok);
  EXPECT_EQ(FailureOf(*h.Request), TFailure::PartialBody);
}

TEST_F(NetLayer, SendFailsWithoutAUsableStatusLine) {
  struct Case {
    const char* path;
    TFailure failure;
  };
  for (Case c : {Case{"/close-before-status", TFailure::NoResponse}}) {
    auto t = OpenRequest(Url(c.path));
    EXPECT_FALSE(t.Request->Send("", nullptr, 0)) << c.path;
    EXPECT_EQ(t.Request->LastError(), TNetError::Transport) << c.path;
    EXPECT_EQ(FailureOf(*t.Request), c.failure) << c.path << ": " << t.Request->ErrorText();
    std::string v;
    EXPECT_FALSE(t.Request->QueryInfo(qiStatusCode, v));
  }
  // Nobody listening.
  auto t = OpenRequest("http://127.0.0.1:1/x");
  EXPECT_FALSE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(FailureOf(*t.Request), TFailure::CannotConnect);
}

TEST_F(NetLayer, AnswerWithoutAStatusLineIsNotHttp) {
  auto t = OpenRequest(Url("/garbage"));
  EXPECT_FALSE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(t.Request->LastError(), TNetError::Transport);
  EXPECT_EQ(FailureOf(*t.Request), TFailure::NotHttp) << t.Request->ErrorText();
  std::string v;
  EXPECT_FALSE(t.Request->QueryInfo(qiStatusCode, v));
}

TEST_F(NetLayer, QueriesRespectTheBufferSize) {
  auto t = OpenRequest(Url("/hugeheader?size=5000&name=X-Huge"));
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  std::string v;
  EXPECT_FALSE(t.Request->QueryInfo(qiRawHeadersCRLF, v));  // longer than 4096
  EXPECT_TRUE(t.Request->QueryInfo(qiRawHeadersCRLF, v, 65536));
  EXPECT_NE(v.find("X-Huge: vvvv"), std::string::npos);
  EXPECT_EQ(v.rfind("HTTP/1.", 0), 0u);
  EXPECT_EQ(v.substr(v.size() - 4), "\r\n\r\n");
  EXPECT_EQ(Query(*t.Request, qiContentType), "text/plain");
  EXPECT_EQ(ReadBody(*t.Request, 100).Data, "small body");
}

TEST_F(NetLayer, StatusNotificationsAndConnectionReuse) {
  // A server of its own, so that the first request surely opens a connection
  // (a client layer may keep connections for the whole process).
  FaultServer own;
  auto Url = [&](const std::string& Path) { return own.Url(Path); };
  auto client = std::make_shared<TNetClient>();
  StatusLog log;
  {
    auto t = OpenRequest(Url("/bytes?n=10"), flKeepConnection, "GET", client, &log);
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    ASSERT_TRUE(ReadBody(*t.Request, 4096).Ok);
    EXPECT_EQ(t.Request->NewConnections(), 1);
  }
  std::vector<uint32_t> fresh = log.Codes();
  std::vector<uint32_t> want = {stHandleCreated, stResolvingName, stNameResolved, stConnectingToServer,
                                stConnectedToServer, stSendingRequest, stRequestSent, stReceivingResponse,
                                stResponseReceived, stHandleClosing /* request */, stHandleClosing /* connection */};
  EXPECT_EQ(fresh, want);
  EXPECT_EQ(log.Texts(stResolvingName), std::vector<std::string>{"127.0.0.1"});
  EXPECT_EQ(log.Texts(stConnectedToServer), std::vector<std::string>{"127.0.0.1"});

  // The next session of the same client reuses the open connection.
  log.Clear();
  {
    auto t = OpenRequest(Url("/bytes?n=10"), flKeepConnection, "GET", client, &log);
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    ASSERT_TRUE(ReadBody(*t.Request, 4096).Ok);
    EXPECT_EQ(t.Request->NewConnections(), 0);
  }
  EXPECT_FALSE(log.Has(stConnectingToServer));
  EXPECT_TRUE(log.Has(stSendingRequest));
}

TEST_F(NetLayer, WithoutKeepConnectionAConnectionIsNeitherReusedNorKept) {
  auto client = std::make_shared<TNetClient>();
  StatusLog log;
  {
    auto kept = OpenRequest(Url("/bytes?n=10"), flKeepConnection, "GET", client);
    ASSERT_TRUE(kept.Request->Send("", nullptr, 0));
    ASSERT_TRUE(ReadBody(*kept.Request, 4096).Ok);
  }
  for (int i = 0; i < 2; ++i) {
    auto t = OpenRequest(Url("/bytes?n=10"), 0, "GET", client, &log);
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    ASSERT_TRUE(ReadBody(*t.Request, 4096).Ok);
    EXPECT_EQ(t.Request->NewConnections(), 1);
  }
  EXPECT_EQ(log.Texts(stConnectionClosed).size(), 2u);
}

TEST_F(NetLayer, RedirectsAreFollowedAndReported) {
  StatusLog log;
  const std::string target = Url("/bytes?n=777");
  auto t = OpenRequest(Url("/redirect?code=302&to=/bytes%3Fn%3D777"), flKeepConnection, "GET", nullptr, &log);
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "200");
  EXPECT_EQ(log.Texts(stRedirect), std::vector<std::string>{target});
  EXPECT_EQ(t.Request->Url(), target);
  EXPECT_EQ(ReadBody(*t.Request, 4096).Data, PatternBytes(0, 777));

  // POST answered with 303 continues as GET; 307 keeps the method.
  auto p = OpenRequest(Url("/redirect?code=303&to=/echo"), flKeepConnection, "POST");
  ASSERT_TRUE(p.Request->Send("", "a=1", 3));
  EXPECT_EQ(ReadBody(*p.Request, 4096).Data.rfind("GET /echo", 0), 0u);
  auto k = OpenRequest(Url("/redirect?code=307&to=/echo"), flKeepConnection, "POST");
  ASSERT_TRUE(k.Request->Send("", "a=1", 3));
  std::string echoed = ReadBody(*k.Request, 4096).Data;
  EXPECT_EQ(echoed.rfind("POST /echo", 0), 0u);
  EXPECT_EQ(echoed.substr(echoed.size() - 3), "a=1");

  // With automatic redirects off the 3xx answer is the final one.
  auto n = OpenRequest(Url("/redirect?code=301&to=/bytes"), flNoAutoRedirect);
  ASSERT_TRUE(n.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*n.Request, qiStatusCode), "301");
  EXPECT_EQ(Query(*n.Request, qiLocation), "/bytes");

  // A loop ends with an error instead of running for ever.
  auto loop = OpenRequest(Url("/loop"));
  EXPECT_FALSE(loop.Request->Send("", nullptr, 0));
  EXPECT_EQ(loop.Request->LastError(), TNetError::TooManyRedirects);
}

// A 401 answered by the login set afterwards: a wrong one gets 401 again, the
// right one the resource.
void LoginRounds(const std::string& Url) {
  auto t = OpenRequest(Url);
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "401");
  EXPECT_NE(Query(*t.Request, qiWWWAuthenticate).find("realm=\"Area 51\""), std::string::npos);
  // The error page is there to be read.
  EXPECT_NE(ReadBody(*t.Request, 4096).Data.find("Login required"), std::string::npos);

  t.Request->SetOption(optUsername, "bob");
  t.Request->SetOption(optPassword, "wrong");
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "401");

  t.Request->SetOption(optPassword, "pw1");
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "200");
  EXPECT_TRUE(ReadBody(*t.Request, 4096).Data == PatternBytes(0, 3000));
}

TEST_F(NetLayer, BasicLoginIsSentAgainAfter401) {
  LoginRounds(Url("/auth/basic?user=bob&pass=pw1&n=3000"));
  // With authentication switched off the login is never offered.
  auto t = OpenRequest(Url("/auth/basic?user=bob&pass=pw1"), flKeepConnection | flNoAuth);
  t.Request->SetOption(optUsername, "bob");
  t.Request->SetOption(optPassword, "pw1");
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "401");
}

TEST_F(NetLayer, DigestLoginIsSentAgainAfter401) { LoginRounds(Url("/auth/digest?user=bob&pass=pw1&n=3000")); }

TEST_F(NetLayer, ProxyLoginAfter407) {
  const std::string proxy = "127.0.0.1:" + std::to_string(server_->Port());
  auto t = OpenRequest(Url("/bytes?n=500"), flKeepConnection, "GET", nullptr, nullptr, TAccessType::Proxy, proxy);
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "407");
  EXPECT_EQ(Query(*t.Request, qiProxyAuthenticate), "Basic realm=\"proxy\"");
  t.Request->SetOption(optProxyUsername, "proxyuser");
  t.Request->SetOption(optProxyPassword, "proxypass");
  ASSERT_TRUE(t.Request->Send("", nullptr, 0)) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "200");
  EXPECT_EQ(ReadBody(*t.Request, 4096).Data, PatternBytes(0, 500));
}

TEST_F(NetLayer, UploadInBlocks) {
  const std::string data = PatternBytes(5, 100000);
  auto t = OpenRequest(Url("/upload"), flKeepConnection, "POST");
  ASSERT_TRUE(t.Request->SendEx("Content-Type: application/octet-stream", static_cast<int64_t>(data.size())))
      << t.Request->ErrorText();
  size_t pos = 0;
  int writes = 0;
  while (pos < data.size()) {
    size_t written = 0;
    ASSERT_TRUE(t.Request->Write(data.data() + pos, std::min<size_t>(4096, data.size() - pos), written));
    ASSERT_GT(written, 0u);
    pos += written;
    ++writes;
  }
  EXPECT_EQ(writes, 25);
  ASSERT_TRUE(t.Request->End()) << t.Request->ErrorText();
  EXPECT_EQ(Query(*t.Request, qiStatusCode), "200");
  std::string reply = ReadBody(*t.Request, 4096).Data;
  EXPECT_EQ(reply.substr(0, 7), "100000 ");

  // Ending an upload whose body is incomplete fails instead of waiting.
  auto u = OpenRequest(Url("/upload"), flKeepConnection, "POST");
  ASSERT_TRUE(u.Request->SendEx("", 1000));
  size_t written = 0;
  ASSERT_TRUE(u.Request->Write(data.data(), 10, written));
  EXPECT_FALSE(u.Request->End());
  EXPECT_EQ(u.Request->LastError(), TNetError::InvalidState);
}

TEST_F(NetLayer, HeadersCookiesAndCacheFlags) {
  auto client = std::make_shared<TNetClient>();
  {
    auto t = OpenRequest(Url("/setcookie"), flKeepConnection, "GET", client);
    ASSERT_TRUE(t.Request->Send("", nullptr, 0));
    ReadBody(*t.Request, 4096);
  }
  auto echo = [&](uint32_t flags, const std::string& add, const std::string& replace) {
    auto t = OpenRequest(Url("/echo"), flags, "GET", client);
    EXPECT_TRUE(t.Request->AddHeaders(add, hmAdd));
    if (!replace.empty()) {
      EXPECT_TRUE(t.Request->AddHeaders(replace, hmReplace));
    }
    EXPECT_TRUE(t.Request->Send("", nullptr, 0));
    return ReadBody(*t.Request, 4096).Data;
  };
  std::string e = echo(flKeepConnection | flPragmaNoCache | flReload, "X-One: 1\r\nRANGE: bytes=10-\r\n",
                       "RANGE: bytes=0-\r\n");
  EXPECT_NE(e.find("Cookie: kv=42"), std::string::npos) << e;
  EXPECT_NE(e.find("X-One: 1"), std::string::npos);
  EXPECT_NE(e.find("RANGE: bytes=0-"), std::string::npos);
  EXPECT_EQ(e.find("bytes=10-"), std::string::npos);
  EXPECT_NE(e.find("Pragma: no-cache"), std::string::npos);
  EXPECT_NE(e.find("Cache-Control: no-cache"), std::string::npos);
  EXPECT_NE(e.find("User-Agent: kvtest"), std::string::npos);
  EXPECT_NE(e.find("Accept: */*"), std::string::npos);
  e = echo(flKeepConnection | flNoCookies, "X-Two: 2", "");
  EXPECT_EQ(e.find("Cookie:"), std::string::npos) << e;
  EXPECT_EQ(e.find("Pragma:"), std::string::npos);
  // A line without a colon is refused as a whole.
  auto t = OpenRequest(Url("/echo"));
  EXPECT_FALSE(t.Request->AddHeaders("Good: 1\r\nnot a header", hmAdd));
}

TEST_F(NetLayer, ReceiveTimeoutEndsAStalledBody) {
  auto t = OpenRequest(Url("/stall?n=100000&after=20000"));
  t.Request->SetOption(optReceiveTimeout, 300u);
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  auto body = ReadBody(*t.Request, 4096);
  EXPECT_FALSE(body.Ok);
  EXPECT_EQ(body.Data.size(), 20000u);
  EXPECT_TRUE(body.Data == PatternBytes(0, 20000));
  EXPECT_EQ(t.Request->LastError(), TNetError::Timeout) << t.Request->ErrorText();

  auto never = OpenRequest(Url("/never"));
  never.Request->SetOption(optReceiveTimeout, 300u);
  EXPECT_FALSE(never.Request->Send("", nullptr, 0));
  EXPECT_EQ(never.Request->LastError(), TNetError::Timeout) << never.Request->ErrorText();
}

TEST_F(NetLayer, CancelFromAnotherThreadWakesABlockingRead) {
  auto t = OpenRequest(Url("/stall?n=100000&after=8000"));
  ASSERT_TRUE(t.Request->Send("", nullptr, 0));
  std::promise<void> started;
  std::thread reader([&] {
    started.set_value();
    ReadBody(*t.Request, 4096);
  });
  started.get_future().wait();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  t.Session->Cancel();
  reader.join();  // would hang for the server's 30 s stall without the wake-up
  EXPECT_EQ(t.Request->LastError(), TNetError::Cancelled);
  size_t n = 0;
  char buf[16];
  EXPECT_FALSE(t.Request->Read(buf, sizeof buf, n));
  EXPECT_FALSE(t.Request->Send("", nullptr, 0));
  EXPECT_EQ(t.Request->LastError(), TNetError::Cancelled);
}

TEST_F(NetLayer, OfflineSessionAndProxyBypass) {
  auto client = std::make_shared<TNetClient>();
  auto session = std::make_shared<TNetSession>(client, "a", TAccessType::Direct, "", "", sfOffline);
  auto conn = std::make_shared<TNetConnection>(session, "127.0.0.1", static_cast<uint16_t>(server_->Port()), "", "", nullptr);
  TNetRequest r(conn, "GET", "/bytes", "", "", flKeepConnection, nullptr);
  EXPECT_FALSE(r.Send("", nullptr, 0));
  EXPECT_EQ(r.LastError(), TNetError::Offline);

  // A host on the bypass list is reached directly although the proxy would
  // refuse it.
  auto s2 = std::make_shared<TNetSession>(client, "a", TAccessType::Proxy, "127.0.0.1:1", "<local>; 127.0.0.1", 0);
  EXPECT_EQ(s2->NoProxy(), "127.0.0.1");
  auto c2 = std::make_shared<TNetConnection>(s2, "127.0.0.1", static_cast<uint16_t>(server_->Port()), "", "", nullptr);
  TNetRequest r2(c2, "GET", "/bytes?n=5", "", "", flKeepConnection, nullptr);
  ASSERT_TRUE(r2.Send("", nullptr, 0)) << r2.ErrorText();
  EXPECT_EQ(ReadBody(r2, 10).Data, PatternBytes(0, 5));
}

TEST_F(NetLayer, RequestTargetIsEscaped) {
  auto t = OpenRequest(Url("/echo"));
  auto conn = t.Connection;
  TNetRequest r(conn, "GET", "/echo/a b\"c?x=1", "", "", flKeepConnection, nullptr);
  ASSERT_TRUE(r.Send("", nullptr, 0));
  // Unknown path: the server answers 404, but the line it saw is escaped.
  EXPECT_EQ(r.Status(), 404);
  auto log = OpenRequest(Url("/_log"));
  ASSERT_TRUE(log.Request->Send("", nullptr, 0));
  EXPECT_NE(ReadBody(*log.Request, 65536).Data.find("/echo/a%20b%22c?x=1"), std::string::npos);
}

}  // namespace
