// Signed info files and checked downloads, against nginx and the fault server.
#include "engine/EngineFixture.h"
#include "kelvora/StoredLayout.h"
#include "kelvora/trust/Crypto.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {

struct Publisher {
  trust::TKeyPair key = trust::GenerateKeyPair();
  std::string Public() const { return trust::Base64Encode(key.PublicKeyDer); }
  std::string Sign(const std::string& Body) const {
    return Body + "#signature=" + trust::Base64Encode(trust::SignMessage(key.PrivateKeyPem, Body)) + "\n";
  }
};

std::string HashOfPattern(uint64_t Size) {
  return "sha256:" + trust::Sha256Hex(PatternBytes(0, Size)) + " " + std::to_string(Size);
}

}  // namespace

class TrustFlowTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    k->OnVerificationFailed = [this](TObject*, const std::string& Reason) { Record("Refused:" + Reason); };
  }
  // One file, listed with the size and hash of Size pattern bytes.
  std::string Release(const std::string& Url, uint64_t Size, const std::string& Extra = "") {
    return "#date=12/31/2099\n#message={Fixes.}\n" + Extra + "#url1=" + Url + "=" + dir.File("prog.bin") +
           "\n#hash1=" + HashOfPattern(Size) + "\n";
  }
  bool RefusedWith(const std::string& Part) const {
    for (const auto& e : events)
      if (e.rfind("Refused:", 0) == 0 && e.find(Part) != std::string::npos) return true;
    return false;
  }
  // A check that only answers, served until its transfer is over.
  bool CheckOnly() {
    const bool update = k->CheckUpdates(true);
    EXPECT_TRUE(PumpUntil([&] { return !k->Busy(); }));
    return update;
  }
  int RefusalMessages() const {
    return ui.Count("MessageBox:" + GetLangText(ltWizardCaption) + "|16|" + GetLangText(ltVerificationFailed));
  }
  Publisher publisher;
};

TEST_F(TrustFlowTest, SignedReleaseUpgradesWhenEitherOfTwoKeysSigned) {
  Publisher retired;
  server->AddPatternFile("prog.bin", 70000);
  EXPECT_FALSE(WriteProperties(*k).contains("PublicKey")) << "empty by default, not stored";
  k->SetPublicKey(retired.Public() + "  " + publisher.Public());
  EXPECT_EQ(WriteProperties(*k)["PublicKey"], k->PublicKey());
  PublishInfo(publisher.Sign(Release(server->Url("/prog.bin"), 70000)));
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_EQ(Events(), "BeginUpgrade:0:1:Fixes.;FileStart:prog.bin:70000;Progress;FileDone:prog.bin.uTMP;"
                      "EndUpgrade;OwnClose");
  EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 70000));
  // CR LF line ends are covered byte for byte like any other.
  events.clear();
  std::string body = Release(server->Url("/prog.bin"), 70000);
  for (size_t at = body.find('\n'); at != std::string::npos; at = body.find('\n', at + 2)) body.insert(at, "\r");
  k->SetPublicKey(publisher.Public());
  PublishInfo(publisher.Sign(body));
  EXPECT_TRUE(CheckOnly()) << Events();
}

TEST_F(TrustFlowTest, OneFlippedByteInTheInfoFileTheSignatureOrTheFileIsRefused) {
  server->AddPatternFile("prog.bin", 5000);
  k->SetPublicKey(publisher.Public());
  const std::string good = publisher.Sign(Release(server->Url("/prog.bin"), 5000));
  std::string message = good, signature = good;
  message[message.find("Fixes")] = 'f';
  const size_t sig = signature.find("#signature=") + 20;
  signature[sig] = signature[sig] == 'A' ? 'B' : 'A';
  for (const std::string& info : {message, signature}) {
    events.clear();
    PublishInfo(info);
    EXPECT_FALSE(CheckOnly());
    EXPECT_TRUE(RefusedWith("signature")) << Events();
    EXPECT_FALSE(Has("BeginUpgrade")) << "refused before anything is acted on";
    EXPECT_FALSE(Has("FileStart"));
  }
  EXPECT_EQ(RefusalMessages(), 2);

  // A listed file with one byte changed on the server: deleted, the run aborted.
  std::string bytes = PatternBytes(0, 5000);
  bytes[4321] ^= 1;
  server->AddTextFile("prog.bin", bytes);
  events.clear();
  PublishInfo(good);
  ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
  EXPECT_TRUE(RefusedWith("SHA-256")) << Events();
  EXPECT_FALSE(Has("FileDone"));
  EXPECT_FALSE(Has("EndUpgrade"));
  EXPECT_FALSE(FileExists(dir.File("prog.bin.uTMP")));
}

TEST_F(TrustFlowTest, WrongKeyExpiredUnsignedOrHashlessFilesAreRefusedBeforeAnyDownload) {
  server->AddPatternFile("prog.bin", 5000);
  const std::string url = server->Url("/prog.bin");
  Publisher stranger;
  k->SetPublicKey(publisher.Public());
  const struct {
    std::string info, reason;
  } cases[] = {
      {stranger.Sign(Release(url, 5000)), "does not match any public key"},
      {publisher.Sign(Release(url, 5000, "#expires=2001-01-01\n")), "expired"},
      {publisher.Sign(Release(url, 5000, "#expires=2001-02-30\n")), "malformed"},
      {Release(url, 5000), "not signed"},
      {Release(url, 5000) + "#signature=" + publisher.Sign("x").substr(12) + "trailing\n", "not signed"},
      {publisher.Sign("#date=12/31/2099\n#url1=" + url + "=" + dir.File("prog.bin") + "\n"), "no #hash1"},
      {publisher.Sign(Release(url, 5000) + "#hash1=sha256:00 5000\n"), ""},  // the first #hash1 counts
  };
  for (const auto& c : cases) {
    events.clear();
    PublishInfo(c.info);
    const bool update = CheckOnly();
    if (c.reason.empty()) {
      EXPECT_TRUE(update) << Events();
      continue;
    }
    EXPECT_FALSE(update) << c.reason;
    EXPECT_TRUE(RefusedWith(c.reason)) << Events();
    EXPECT_EQ(events.back(), "Aborted") << "the check's one ending event";
    EXPECT_FALSE(Has("FileStart"));
  }
  EXPECT_FALSE(FileExists(dir.File("prog.bin.uTMP")));

  // A signed redirect opens only a web address.
  events.clear();
  PublishInfo(publisher.Sign("#date=12/31/2099\n#method=2\n#url1=file:///etc/passwd\n"));
  ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
  EXPECT_TRUE(RefusedWith("http and https"));

  // Without a key the same unsigned file upgrades as before.
  events.clear();
  k->SetPublicKey("");
  PublishInfo(Release(url, 5000));
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_FALSE(Has("Refused"));
  EXPECT_TRUE(FileHoldsPattern(dir.File("prog.bin.uTMP"), 5000));
}

TEST_F(TrustFlowTest, ServerSendingOtherThanTheListedSizeIsStoppedAndRefused) {
  // Unsigned files: listed sizes and hashes are checked with or without a key.
  // An address cannot hold "=", so nginx relays the fault server's endless
  // body (no Content-Length) under a plain path.
  FaultServer faults;
  Nginx::Options relay;
  relay.ExtraServer = "    location = /endless { proxy_buffering off; proxy_pass http://127.0.0.1:" +
                      std::to_string(faults.Port()) + "/nolength?n=2000000000; }\n";
  Nginx proxy(relay);
  proxy.AddPatternFile("big.bin", 9000);
  const struct {
    std::string url;
    uint64_t listed;
    std::string reason;
  } cases[] = {
      {proxy.Url("/endless"), 5000, "more than the 5000 bytes"},  // cut off at the listed size
      {faults.Url("/chunked"), 5000, "more than the 5000 bytes"},  // 10000 bytes, chunked
      {proxy.Url("/big.bin"), 5000, "announces 9000 bytes"},      // refused before anything is written
      {faults.Url("/nolength"), 9000, "5000 bytes instead of 9000"},  // closed early without a length
  };
  // Paced as the engine's downloads are by default, and with an event per block.
  for (int interval : {TkvKelvora::kDefaultProgressInterval, 0}) {
    k->SetProgressInterval(interval);
    for (const auto& c : cases) {
      events.clear();
      PublishInfo(Release(c.url, c.listed));
      ASSERT_TRUE(RunCheckUntil("Aborted")) << interval << " " << c.url << ": " << Events();
      EXPECT_TRUE(RefusedWith(c.reason)) << Events();
      EXPECT_FALSE(Has("FileDone"));
      EXPECT_FALSE(Has("EndUpgrade"));
      EXPECT_FALSE(FileExists(dir.File("prog.bin.uTMP"))) << c.url;
    }
  }
  EXPECT_EQ(RefusalMessages(), 8);
}
