// An upgrade through Debian's squid that requires a proxy login, in front of
// nginx as the origin: the proxy gets the login the host gives when asked,
// the origin never sees it, and a proxy that refuses every login is asked
// a bounded number of times.
#include "engine/EngineFixture.h"
#include "support/Squid.h"

using namespace kelvora;
using namespace kvtest;

namespace {

std::vector<std::string> LinesOf(const std::string& Text) {
  std::vector<std::string> lines;
  std::istringstream in(Text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

class ProxyLoginTest : public EngineTest {
 protected:
  // Points the component at Proxy, whose login the host gives when asked.
  void UseProxy(const Squid& Proxy, const std::string& Password) {
    k->Proxy().SetAccessType(atUseProxy);
    k->Proxy().SetProxyServer("127.0.0.1");
    k->Proxy().SetProxyPort(Proxy.Port());
    k->Proxy().SetProxyBypass("");  // the origin is on 127.0.0.1 as well
    k->OnProxyAuthenticationRequest = [this, Password](TObject*, std::string& User, std::string& Pass, bool& Again) {
      ++asks;
      User = "proxyuser";
      Pass = Password;
      Again = true;
    };
  }

  // The whole upgrade through a proxy that requires Login.
  void UpgradeThrough(Squid::Scheme Login) {
    Squid proxy({.Login = Login});
    UseProxy(proxy, "proxy-secret");
    server->AddPatternFile("prog.bin", 200000);
    PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/prog.bin") + "=" + dir.File("prog.bin") + "\n");
    ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events() << "\n" << proxy.AccessLog() << proxy.CacheLog();
    EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 200000));
    EXPECT_EQ(asks, 1) << "asked once; the login is kept for the download";
    // The proxy served both with the login; the origin got neither login header.
    int served = 0;
    for (const std::string& line : LinesOf(proxy.AccessLog()))
      if (line.rfind("200 GET ", 0) == 0) {
        ++served;
        // (squid's fake NTLM helper notes the name with a domain around it)
        EXPECT_NE(line.find("proxyuser"), std::string::npos) << line;
      }
    EXPECT_EQ(served, 2) << proxy.AccessLog();
    const std::vector<std::string> origin = LinesOf(server->LoginLog());
    EXPECT_EQ(origin.size(), 2u);
    for (const std::string& line : origin)
      EXPECT_NE(line.find("authorization=- proxy_authorization=-"), std::string::npos) << line;
  }

  int asks = 0;
};

}  // namespace

TEST_F(ProxyLoginTest, UpgradePassesABasicLoginProxyThatKeepsTheLoginFromTheOrigin) {
  UpgradeThrough(Squid::Scheme::Basic);
}

TEST_F(ProxyLoginTest, UpgradePassesADigestLoginProxyThatKeepsTheLoginFromTheOrigin) {
  UpgradeThrough(Squid::Scheme::Digest);
}

TEST_F(ProxyLoginTest, UpgradePassesAnNtlmLoginProxyThatKeepsTheLoginFromTheOrigin) {
  UpgradeThrough(Squid::Scheme::Ntlm);
}

TEST_F(ProxyLoginTest, AProxyThatRefusesEveryLoginIsAskedABoundedNumberOfTimes) {
  Squid proxy({.Login = Squid::Scheme::Basic});
  UseProxy(proxy, "wrong");
  PublishInfo("#date=12/31/2099\n");
  k->CheckUpdates(false);
  ASSERT_TRUE(PumpUntil([&] { return asks > 0 && !k->Busy(); }));
  EXPECT_GE(asks, 2);
  EXPECT_LE(asks, 10);
  EXPECT_FALSE(Has("BeginUpgrade")) << Events();
  EXPECT_TRUE(Has("NoInfoFile")) << "the last 407 ends the check: " << Events();
  EXPECT_EQ(server->LoginLog(), "") << "nothing reached the origin";
}
