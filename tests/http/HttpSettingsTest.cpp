// Settings, stored layout, URL helpers, status texts, request flags and the
// progress figures of the transfer component (no server needed).
#include <gtest/gtest.h>

#include "http/Progress.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/kvHTTP.h"

using namespace kelvora;

namespace {

TEST(HttpSettings, DefaultsOfTheComponent) {
  TkvCustomHTTP h(nullptr);
  EXPECT_EQ(h.AcceptTypes(), "text/html, */*");
  EXPECT_EQ(h.Agent(), "ztHTTP component (Corvanta)");
  EXPECT_TRUE(h.InternetOptions() == TkvInternetOptions{ioKeepConnection});
  EXPECT_TRUE(h.RequestCacheOptions() ==
              (TkvCacheOptions{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache}));
  EXPECT_EQ(h.TransferBufferSize(), 4096);
  EXPECT_EQ(h.RequestMethod(), rmAuto);
  EXPECT_EQ(h.ThreadPriority(), tpNormal);
  EXPECT_FALSE(h.WaitThread());
  EXPECT_FALSE(h.Busy());
  EXPECT_EQ(h.StatusCode(), -1);
  EXPECT_EQ(h.Proxy().AccessType(), atPreconfig);
  EXPECT_EQ(h.Proxy().ProxyPort(), 8080);
  EXPECT_EQ(h.Proxy().ProxyBypass(), "127.0.0.1;");
  EXPECT_TRUE(h.OutputFileAttributes().Complete() == TkvFileAttributes{atrArchive});
  EXPECT_TRUE(h.OutputFileAttributes().Incomplete() == (TkvFileAttributes{atrArchive, atrTemporary}));
  EXPECT_THROW(h.SetTransferBufferSize(254), EInvalidOperation);
  h.SetTransferBufferSize(255);
  EXPECT_EQ(h.TransferBufferSize(), 255);
  h.SetThreadPriority(tpHigher);
  EXPECT_EQ(h.ThreadPriority(), tpHigher);
}

TEST(HttpSettings, AssignCopiesAndAssignFromNothingRestoresDefaults) {
  TkvHTTPProxy p, q;
  p.SetAccessType(atUseProxy);
  p.SetProxyPort(3128);
  p.SetProxyServer("proxy.example");
  p.SetProxyBypass("");
  p.SetProxyUsername("u");
  p.SetProxyPassword("p");
  q.Assign(&p);
  EXPECT_EQ(q.AccessType(), atUseProxy);
  EXPECT_EQ(q.ProxyPort(), 3128);
  EXPECT_EQ(q.ProxyServer(), "proxy.example");
  EXPECT_EQ(q.ProxyBypass(), "");
  EXPECT_EQ(q.ProxyUsername(), "u");
  EXPECT_EQ(q.ProxyPassword(), "p");
  q.Assign(nullptr);
  EXPECT_EQ(q.AccessType(), atPreconfig);
  EXPECT_EQ(q.ProxyPort(), 8080);
  EXPECT_EQ(q.ProxyServer(), "");
  EXPECT_EQ(q.ProxyBypass(), "127.0.0.1;");
  EXPECT_EQ(q.ProxyUsername(), "");

  TkvHTTPRange r, r2;
  r.SetStartRange(10);
  r.SetEndRange(20);
  r2.Assign(&r);
  EXPECT_EQ(r2.StartRange(), 10u);
  EXPECT_EQ(r2.EndRange(), 20u);
  r2.Assign(nullptr);
  EXPECT_EQ(r2.StartRange() + r2.EndRange(), 0u);

  TkvHTTPTimeouts t, t2;
  t.SetConnectTimeout(1);
  t.SetReceiveTimeout(2);
  t.SetSendTimeout(3);
  t2.Assign(&t);
  EXPECT_EQ(t2.ConnectTimeout() * 100 + t2.ReceiveTimeout() * 10 + t2.SendTimeout(), 123u);
  t2.Assign(nullptr);
  EXPECT_EQ(t2.ConnectTimeout() + t2.ReceiveTimeout() + t2.SendTimeout(), 0u);

  TkvOutputFileAttributes a, a2;
  a.SetComplete({atrHidden});
  a.SetIncomplete({atrReadOnly});
  a2.Assign(&a);
  EXPECT_TRUE(a2.Complete() == TkvFileAttributes{atrHidden});
  EXPECT_TRUE(a2.Incomplete() == TkvFileAttributes{atrReadOnly});
  a2.Assign(nullptr);
  EXPECT_TRUE(a2.Complete() == TkvOutputFileAttributes::DefaultComplete());
  EXPECT_TRUE(a2.Incomplete() == TkvOutputFileAttributes::DefaultIncomplete());

  // Unrelated sources are refused.
  EXPECT_THROW(p.Assign(&r), EConvertError);
  EXPECT_THROW(r.Assign(&t), EConvertError);
  EXPECT_THROW(t.Assign(&a), EConvertError);
  EXPECT_THROW(a.Assign(&p), EConvertError);
}

TEST(HttpSettings, StoredPropertiesOfTheSettingsObjects) {
  TkvHTTPProxy p;
  EXPECT_TRUE(WriteProperties(p).empty());  // defaults only: nothing stored
  p.SetProxyServer("proxy.example");
  // Server and bypass list are stored only with a proxy in use.
  EXPECT_TRUE(WriteProperties(p).empty());
  p.SetAccessType(atUseProxy);
  auto j = WriteProperties(p);
  EXPECT_EQ(j["AccessType"], "atUseProxy");
  EXPECT_EQ(j["ProxyServer"], "proxy.example");
  EXPECT_EQ(j["ProxyBypass"], "127.0.0.1;");
  EXPECT_FALSE(j.contains("ProxyPort"));
  TkvHTTPProxy back;
  back.SetProxyBypass("");
  ReadProperties(back, j);
  EXPECT_EQ(back.AccessType(), atUseProxy);
  EXPECT_EQ(back.ProxyServer(), "proxy.example");
  EXPECT_EQ(back.ProxyBypass(), "127.0.0.1;");

  TkvOutputFileAttributes a;
  EXPECT_TRUE(WriteProperties(a).empty());
  a.SetIncomplete({atrHidden, atrTemporary});
  auto ja = WriteProperties(a);
  EXPECT_EQ(ja["Incomplete"], TPropertyList::Json::array({"atrHidden", "atrTemporary"}));
  TkvOutputFileAttributes a2;
  ReadProperties(a2, ja);
  EXPECT_TRUE(a2.Incomplete() == (TkvFileAttributes{atrHidden, atrTemporary}));
}

// A component that reads and writes its login through the stored layout.
std::string StoreLogin(const std::string& User, const std::string& Pass) {
  TkvLoginComponent c(nullptr);
  c.SetName("Login1");
  c.SetHTTPUsername(User);
  c.SetHTTPPassword(Pass);
  return WriteComponentText(c, "TkvLoginComponent");
}

TEST(HttpSettings, LoginIsStoredScrambledAsLInfo) {
  TkvLoginComponent c(nullptr);
  c.SetHTTPUsername("bob");
  c.SetHTTPPassword("pass");
  TMemoryStream s;
  c.WriteLogin(s);
  ASSERT_EQ(s.Size(), 9);
  const uint8_t* b = s.Memory();
  EXPECT_EQ(b[0], 8);
  const uint8_t mask = 8 ^ kvLoginKey;
  EXPECT_EQ(b[1] ^ mask, 3);
  EXPECT_EQ(std::string({char(b[2] ^ mask), char(b[3] ^ mask), char(b[4] ^ mask)}), "bob");
  EXPECT_NE(std::string(reinterpret_cast<const char*>(b + 2), 3), "bob");
  s.SetPosition(0);
  TkvLoginComponent d(nullptr);
  d.ReadLogin(s);
  EXPECT_EQ(d.HTTPUsername(), "bob");
  EXPECT_EQ(d.HTTPPassword(), "pass");

  // Through the stored layout, and only when there is a login.
  const std::string text = StoreLogin("user", "pw");
  EXPECT_NE(text.find("\"LInfo\""), std::string::npos);
  TkvLoginComponent e(nullptr);
  e.SetName("Login1");
  ReadComponentText(e, text);
  EXPECT_EQ(e.HTTPUsername(), "user");
  EXPECT_EQ(e.HTTPPassword(), "pw");
  EXPECT_EQ(StoreLogin("", "").find("LInfo"), std::string::npos);
  EXPECT_NE(StoreLogin("", "only-password").find("LInfo"), std::string::npos);
  TkvLoginComponent f(nullptr);
  f.SetName("Login1");
  ReadComponentText(f, StoreLogin("", ""));
  EXPECT_EQ(f.HTTPUsername() + f.HTTPPassword(), "");

  // 254 bytes together fit; one more is refused, never stored cut short.
  EXPECT_NO_THROW(StoreLogin(std::string(200, 'u'), std::string(54, 'p')));
  EXPECT_THROW(StoreLogin(std::string(200, 'u'), std::string(55, 'p')), EWriteError);
  // A damaged record is refused on reading.
  TMemoryStream bad;
  const uint8_t rec[] = {2, static_cast<uint8_t>(9 ^ 2 ^ kvLoginKey), 0};
  bad.WriteBuffer(rec, 3);
  bad.SetPosition(0);
  EXPECT_THROW(d.ReadLogin(bad), EReadError);
}

TEST(HttpUrl, SplitURL) {
  std::string scheme, host, user, pass, path, extra;
  uint16_t port = 0;
  ASSERT_TRUE(SplitURL("example.com/dir/file.zip?x=1", scheme, host, user, pass, path, extra, port));
  EXPECT_EQ(scheme, "http");
  EXPECT_EQ(host, "example.com");
  EXPECT_EQ(path, "/dir/file.zip");
  EXPECT_EQ(extra, "?x=1");
  EXPECT_EQ(port, 80);
  ASSERT_TRUE(SplitURL("https://me:se%40cret@[::1]:8443/a%20b/c.txt", scheme, host, user, pass, path, extra, port));
  EXPECT_EQ(scheme, "https");
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(user, "me");
  EXPECT_EQ(pass, "se@cret");
  EXPECT_EQ(path, "/a b/c.txt");
  EXPECT_EQ(extra, "");
  EXPECT_EQ(port, 8443);
  // Failures leave the outputs alone.
  scheme = "keep";
  EXPECT_FALSE(SplitURL("http://" + std::string(300, 'h') + "/x", scheme, host, user, pass, path, extra, port));
  EXPECT_FALSE(SplitURL("http://host:99999/x", scheme, host, user, pass, path, extra, port));
  EXPECT_EQ(scheme, "keep");
}

TEST(HttpUrl, SplitURLOfALocalFile) {
  std::string scheme, host, user, pass, path, extra;
  uint16_t port = 0;
  ASSERT_TRUE(SplitURL("file:///tmp/some/file.bin", scheme, host, user, pass, path, extra, port));
  EXPECT_EQ(scheme, "file");
  EXPECT_EQ(path, "/tmp/some/file.bin");
}

TEST(HttpUrl, EncodeHostNameFileNameAndStatusTexts) {
  EXPECT_EQ(EncodeURLPart("a b+c"), "a%20b+c");  // "+" kept as written
  EXPECT_EQ(EncodeURLPart("?x=a b&y=%"), "?x=a%20b&y=%25");
  EXPECT_EQ(EncodeURLPart("~/:=&?#*<>\x01\xC3\xA9"), "~/:=&?%23%2A%3C%3E%01%C3%A9");

  TkvCustomHTTP h(nullptr);
  h.SetURL("example.com/dir/file.zip?x=1");
  EXPECT_EQ(h.HostName(), "example.com");
  EXPECT_EQ(h.FileName(), "file.zip");
  h.SetURL("http://host/dir/");
  EXPECT_EQ(h.FileName(), "");
  h.SetURL("http://host:99999/x");
  EXPECT_EQ(h.HostName(), "");
  EXPECT_EQ(h.FileName(), "");

  EXPECT_EQ(InternetStatusText(10), "Resolving name");
  EXPECT_EQ(InternetStatusText(30), "Sending Request");
  EXPECT_EQ(InternetStatusText(42), "CTL Response received");
  EXPECT_EQ(InternetStatusText(110), "Redirect");
  EXPECT_EQ(InternetStatusText(200), "State change");
  EXPECT_EQ(InternetStatusText(12), "Unknown status");
}

TEST(HttpFlags, RequestFlagSums) {
  const TkvCacheOptions defCache{coReloadIfNoExpireInformation, coReloadUpdatedObjects, coCreateTempFilesIfCantCache};
  const TkvInternetOptions defOpts{ioKeepConnection};
  EXPECT_EQ(RequestFlags("http", defCache, defOpts), 0x400C10u);
  // https: secure, and never need-file.
  EXPECT_EQ(RequestFlags("HTTPS", defCache, defOpts), 0xC00C00u);
  EXPECT_EQ(RequestFlags("http", {}, {}), 0u);
  const TkvCacheOptions allCache{coAlwaysReload,   coReloadIfNoExpireInformation, coReloadUpdatedObjects,
                                 coPragmaNoCache,  coNoCacheWrite,                coCreateTempFilesIfCantCache,
                                 coUseCacheIfNetFail};
  EXPECT_EQ(RequestFlags("http", allCache, {}), 0x80000000u + 0x400 + 0x800 + 0x100 + 0x4000000 + 0x10 + 0x10000);
  const TkvInternetOptions allOpts{ioIgnoreCertificateInvalid, ioIgnoreCertificateDateInvalid,
                                   ioIgnoreUnknownCertificateAuthority, ioIgnoreRedirectToHTTP,
                                   ioIgnoreRedirectToHTTPS, ioKeepConnection, ioNoAuthentication,
                                   ioNoAutoRedirect, ioNoCookies};
  // The unknown-authority option is a security option, not a flag.
  EXPECT_EQ(RequestFlags("https", {}, allOpts),
            0x800000u + 0x1000 + 0x2000 + 0x8000 + 0x4000 + 0x400000 + 0x40000 + 0x200000 + 0x80000);
}

TEST(HttpProgress, FiguresFollowTheirRules) {
  using httpimpl::ComputeProgressFigures;
  auto f = ComputeProgressFigures(4000, 1000, 0, 2000);
  EXPECT_EQ(f.PercentsDone, 25);
  EXPECT_EQ(f.ElapsedTime, 2);
  EXPECT_EQ(f.EstimatedTimeLeft, 6);
  EXPECT_FLOAT_EQ(f.TransferRate, 0.48828125f);
  // Within the first second: kilobytes so far.
  f = ComputeProgressFigures(4000, 2048, 0, 999);
  EXPECT_EQ(f.ElapsedTime, 0);
  EXPECT_FLOAT_EQ(f.TransferRate, 2.0f);
  EXPECT_EQ(f.EstimatedTimeLeft, 0);
  // No length: no percentage, and the estimate is minus the elapsed time.
  f = ComputeProgressFigures(0, 5000, 0, 3500);
  EXPECT_EQ(f.PercentsDone, 0);
  EXPECT_EQ(f.EstimatedTimeLeft, -3);
  // The resume position counts in the percentage only.
  f = ComputeProgressFigures(1000, 500, 1000, 4000);
  EXPECT_EQ(f.PercentsDone, 75);
  EXPECT_EQ(f.EstimatedTimeLeft, 4);
  // Halves round to even: 2.5 -> 2 (1000/800*2 = 2.5).
  f = ComputeProgressFigures(1000, 800, 0, 2000);
  EXPECT_EQ(f.EstimatedTimeLeft, 0);
  // Sizes beyond 32 bits.
  f = ComputeProgressFigures(int64_t{6} << 30, int64_t{3} << 30, 0, 10000);
  EXPECT_EQ(f.PercentsDone, 50);
  EXPECT_EQ(f.EstimatedTimeLeft, 10);
}

}  // namespace
