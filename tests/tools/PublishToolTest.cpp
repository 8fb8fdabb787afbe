// kelvora-publish: the publisher's round, a signature made with plain openssl
// commands, and the command-line conventions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <random>

#include "kelvora/ReleaseInfo.h"
#include "kelvora/delta/PatchOffer.h"
#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/trust/InfoTrust.h"
#include "support/TestFiles.h"
#include "support/TestProcess.h"

using namespace kvtest;

namespace {

struct Outcome {
  int Code;
  std::string Output;  // stdout and stderr
};

class PublishTool : public ::testing::Test {
 protected:
  Outcome Tool(std::vector<std::string> Args) {
    Args.insert(Args.begin(), KV_PUBLISH_TOOL);
    return Command(Args);
  }
  Outcome Command(const std::vector<std::string>& Argv) {
    const std::string log = dir.File("log" + std::to_string(++runs));
    const int code = RunCommand(Argv, log);
    return {code, FileExists(log) ? ReadWholeFile(log) : ""};
  }
  static std::string Trimmed(std::string S) {
    while (!S.empty() && (S.back() == '\n' || S.back() == ' ')) S.pop_back();
    return S;
  }
  bool Accepted(const std::string& Info, const std::string& Key) {
    return kelvora::trust::VerifyInfoFile(ReadWholeFile(Info), Key, std::time(nullptr)).Ok;
  }
  // Bytes no compressor shrinks, the same for the same Seed.
  static std::string Noise(size_t Size, unsigned Seed) {
    std::mt19937 gen(Seed);
    std::string out(Size, '\0');
    for (char& c : out) c = static_cast<char>(gen());
    return out;
  }
  // A signing key, an older release in old/ and the new one in build/: "app"
  // changed a little, "noise.bin" changed entirely, "same.txt" not at all.
  std::string OlderAndNewerRelease() {
    const Outcome keygen = Tool({"keygen", dir.File("k.pem")});
    EXPECT_EQ(keygen.Code, 0) << keygen.Output;
    const std::string app = Noise(150000, 1);
    WriteTextFile(dir.File("old/app"), app);
    WriteTextFile(dir.File("build/app"), app.substr(0, 70000) + "a fix in the middle" + app.substr(70000));
    WriteTextFile(dir.File("v1/noise.bin"), Noise(50000, 2));
    WriteTextFile(dir.File("build/noise.bin"), Noise(50000, 3));
    WriteTextFile(dir.File("old/same.txt"), "unchanged\n");
    WriteTextFile(dir.File("build/same.txt"), "unchanged\n");
    WriteTextFile(dir.File("release.json"), R"({"version": "2.0", "patch_url": "https://example.org/patches/",
  "files": [{"path": "build/app", "url": "https://example.org/app/app"},
            {"path": "build/noise.bin", "url": "https://example.org/app/noise.bin", "previous": ["v1/noise.bin"]},
            {"path": "build/same.txt", "url": "https://example.org/app/same.txt"}]})");
    return Trimmed(keygen.Output);
  }
  TempDir dir;
  int runs = 0;
};

}  // namespace

TEST_F(PublishTool, KeygenMakeVerifyAndResignRound) {
  const std::string key = dir.File("release.pem");
  const Outcome keygen = Tool({"keygen", key});
  ASSERT_EQ(keygen.Code, 0) << keygen.Output;
  const std::string pub = Trimmed(keygen.Output);
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string pem = ReadWholeFile(key);
  const Outcome again = Tool({"keygen", key});
  EXPECT_EQ(again.Code, 1);
  EXPECT_NE(again.Output.find(key), std::string::npos) << again.Output;
  EXPECT_EQ(ReadWholeFile(key), pem) << "never over an existing key";

  WritePatternFile(dir.File("build/app"), 20000);
  WriteTextFile(dir.File("release.json"),
                R"({"version": "2.1.0", "message": "Faster.\nFixed printing.", "expires": "2099-01-01",
  "files": [{"path": "build/app", "url": "https://example.org/app/app", "target": "%current%app"}]})");
  const std::string info = dir.File("info.txt");
  ASSERT_EQ(Tool({"make", dir.File("release.json"), "-o", info, "--key", key}).Code, 0);
  const std::string text = ReadWholeFile(info);
  EXPECT_EQ(text.rfind("#version=2.1.0\n#expires=2099-01-01\n#message={Faster.\nFixed printing.}\n#method=0\n"
                       "#sequence=",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\n#url1=https://example.org/app/app=%current%app\n#hash1=sha256:"), std::string::npos) << text;
  EXPECT_TRUE(Accepted(info, pub)) << "the engine accepts what the tool signed";
  EXPECT_EQ(Tool({"verify", info, "--public-key", pub, "--files", dir.File("build")}).Code, 0);

  // The file changed after make: verify names the info file's line.
  WritePatternFile(dir.File("build/app"), 20001);
  const Outcome changed = Tool({"verify", info, "--public-key", pub, "--files", dir.File("build")});
  EXPECT_EQ(changed.Code, 1);
  EXPECT_NE(changed.Output.find(info + ":8:"), std::string::npos) << changed.Output;

  // An edited info file is refused until it is signed again.
  WriteTextFile(info, "#note=edited\n" + text);
  const Outcome edited = Tool({"verify", info, "--public-key", pub});
  EXPECT_EQ(edited.Code, 1);
  EXPECT_NE(edited.Output.find("does not match"), std::string::npos) << edited.Output;
  ASSERT_EQ(Tool({"sign", info, "--key", key}).Code, 0);
  EXPECT_TRUE(Accepted(info, pub));
  EXPECT_EQ(ReadWholeFile(info).find("#signature="), ReadWholeFile(info).rfind("#signature=")) << "one signature";
}

TEST_F(PublishTool, SignatureMadeWithPlainOpensslIsAccepted) {
  const std::string key = dir.File("k.pem"), body = dir.File("body.txt"), sig = dir.File("sig.der");
  ASSERT_EQ(Command({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key})
                .Code,
            0);
  WriteTextFile(body, "#date=12/31/2099\r\n#url1=https://example.org/a=a\r\n#hash1=sha256:" + std::string(64, '0') +
                          " 1\r\n");
  ASSERT_EQ(Command({"openssl", "dgst", "-sha256", "-sign", key, "-out", sig, body}).Code, 0);
  const Outcome pub = Command({"sh", "-c", "openssl pkey -in '" + key + "' -pubout -outform DER | base64 -w0"});
  ASSERT_EQ(pub.Code, 0);
  const Outcome b64 = Command({"base64", "-w0", sig});
  const std::string info = dir.File("info.txt");
  WriteTextFile(info, ReadWholeFile(body) + "#signature=" + Trimmed(b64.Output) + "\r\n");
  EXPECT_TRUE(Accepted(info, Trimmed(pub.Output)));
  EXPECT_EQ(Tool({"verify", info, "--public-key", Trimmed(pub.Output)}).Code, 0);
}

TEST_F(PublishTool, HelpUsageErrorsAndBadInputsFollowTheConventions) {
  for (const char* verb : {"keygen", "make", "sign", "verify"}) {
    const Outcome help = Tool({verb, "--help"});
    EXPECT_EQ(help.Code, 0) << verb;
    EXPECT_NE(help.Output.find(std::string("usage: kelvora-publish ") + verb), std::string::npos) << help.Output;
  }
  EXPECT_EQ(Tool({"--help"}).Code, 0);
  EXPECT_EQ(Tool({}).Code, 2);
  EXPECT_EQ(Tool({"publish"}).Code, 2);
  EXPECT_EQ(Tool({"make", "x.json", "--colour", "red"}).Code, 2);
  EXPECT_EQ(Tool({"verify", "info.txt"}).Code, 2) << "no key given";

  const std::string desc = dir.File("release.json");
  WriteTextFile(desc, "{\n  \"version\": \"1.0\",\n  \"files\": [\n    {\"url\": \"x\" \"path\": \"y\"}]}\n");
  const Outcome syntax = Tool({"make", desc, "-o", dir.File("info.txt")});
  EXPECT_EQ(syntax.Code, 1);
  EXPECT_NE(syntax.Output.find(desc + ":4:"), std::string::npos) << syntax.Output;
  WriteTextFile(desc, R"({"version": "1.0", "message": "see #url1=http://evil/x", "files": [{"url": "u", "path": "y"}]})");
  const Outcome injected = Tool({"make", desc, "-o", dir.File("info.txt")});
  EXPECT_EQ(injected.Code, 1);
  EXPECT_NE(injected.Output.find("/message"), std::string::npos) << injected.Output;
  WriteTextFile(desc, R"({"version": "1.0", "files": [{"url": "u", "path": "missing.bin"}]})");
  const Outcome missing = Tool({"make", desc, "-o", dir.File("info.txt")});
  EXPECT_EQ(missing.Code, 1);
  EXPECT_NE(missing.Output.find("missing.bin"), std::string::npos) << missing.Output;
  EXPECT_FALSE(FileExists(dir.File("info.txt"))) << "nothing written on failure";
}

TEST_F(PublishTool, NeverWritesOverWhatItReadsAndCountsWhatTheComponentInstalls) {
  const std::string key = dir.File("k.pem");
  const Outcome keygen = Tool({"keygen", key});
  ASSERT_EQ(keygen.Code, 0);
  const std::string pub = Trimmed(keygen.Output), pem = ReadWholeFile(key);
  WritePatternFile(dir.File("build/app"), 1000);
  const std::string desc = dir.File("release.json");
  WriteTextFile(desc, R"({"version": "2.0", "files": [{"path": "build/app", "url": "https://example.org/app"}]})");
  const std::string descText = ReadWholeFile(desc), app = ReadWholeFile(dir.File("build/app"));
  // The key, a listed file or the description as the output: refused, all intact.
  for (const std::string& out : {key, dir.File("build/app"), desc}) {
    const Outcome o = Tool({"make", desc, "-o", out, "--key", key});
    EXPECT_EQ(o.Code, 1) << out;
    EXPECT_NE(o.Output.find("nothing was written"), std::string::npos) << o.Output;
  }
  const std::string info = dir.File("info.txt");
  ASSERT_EQ(Tool({"make", desc, "-o", info, "--key", key}).Code, 0);
  EXPECT_EQ(Tool({"sign", info, "--key", key, "-o", key}).Code, 1);
  EXPECT_EQ(Tool({"sign", key, "--key", key}).Code, 1);
  EXPECT_EQ(ReadWholeFile(key), pem);
  EXPECT_EQ(ReadWholeFile(desc), descText);
  EXPECT_EQ(ReadWholeFile(dir.File("build/app")), app);
  struct stat st {};
  ASSERT_EQ(::stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A number beyond int does not wrap into the range.
  WriteTextFile(desc, R"({"version": "2.0", "method": 4294967297, "files": [{"path": "build/app", "url": "u"}]})");
  const Outcome wrapped = Tool({"make", desc, "-o", dir.File("wrapped.txt")});
  EXPECT_EQ(wrapped.Code, 1);
  EXPECT_NE(wrapped.Output.find("/method"), std::string::npos) << wrapped.Output;

  // "#url" with "#url1" and "#url2": the component would leave #url1 out, so
  // the file is refused, and verify says so; two files it reads are two.
  const std::string hash = "#hash=sha256:" + std::string(64, '0') + " 1\n";
  WriteTextFile(info, "#version=2.0\n#url=https://e.org/a\n" + hash + "#url1=https://e.org/b\n" +
                          "#hash1=sha256:" + std::string(64, '0') + " 1\n#url2=https://e.org/c\n#hash2=sha256:" +
                          std::string(64, '0') + " 1\n");
  ASSERT_EQ(Tool({"sign", info, "--key", key}).Code, 0);
  const Outcome skipped = Tool({"verify", info, "--public-key", pub});
  EXPECT_EQ(skipped.Code, 1);
  EXPECT_NE(skipped.Output.find(info + ":4: the entry of \"#url1\" is not read"), std::string::npos) << skipped.Output;
  WriteTextFile(info, "#version=2.0\n#url=https://e.org/a\n" + hash + "#url2=https://e.org/c\n#hash2=sha256:" +
                          std::string(64, '0') + " 1\n");
  ASSERT_EQ(Tool({"sign", info, "--key", key}).Code, 0);
  const Outcome two = Tool({"verify", info, "--public-key", pub});
  EXPECT_EQ(two.Code, 0) << two.Output;
  EXPECT_NE(two.Output.find("2 file(s) listed"), std::string::npos) << two.Output;
}

TEST_F(PublishTool, MakeOffersPatchesFromOlderReleasesThatRebuildTheNewFiles) {
  const std::string pub = OlderAndNewerRelease();
  const std::string info = dir.File("info.txt");
  const Outcome make = Tool({"make", dir.File("release.json"), "-o", info, "--key", dir.File("k.pem"), "--previous",
                             dir.File("old"), "--patches", dir.File("build"), "--patch-level", "3"});
  ASSERT_EQ(make.Code, 0) << make.Output;
  EXPECT_NE(make.Output.find("not clearly smaller, left out"), std::string::npos) << make.Output;
  EXPECT_NE(make.Output.find("unchanged since"), std::string::npos) << make.Output;
  EXPECT_TRUE(Accepted(info, pub));

  // One patch, for app only, served under patch_url and written beside the files.
  const std::string text = ReadWholeFile(info);
  std::vector<kelvora::delta::TPatchOffer> offers;
  std::string reason;
  ASSERT_TRUE(kelvora::delta::ReadPatchOffers(text, "1", offers, reason)) << reason;
  ASSERT_EQ(offers.size(), 1u) << text;
  for (const char* other : {"2", "3"}) {
    std::vector<kelvora::delta::TPatchOffer> none;
    ASSERT_TRUE(kelvora::delta::ReadPatchOffers(text, other, none, reason));
    EXPECT_TRUE(none.empty()) << text;
  }
  ASSERT_EQ(offers[0].Address.rfind("https://example.org/patches/app.", 0), 0u) << offers[0].Address;
  const std::string patch = dir.File("build/" + offers[0].Address.substr(offers[0].Address.rfind('/') + 1));
  EXPECT_LT(offers[0].Size, 1000) << "the change costs bytes, not the file";
  std::string rebuilt;
  EXPECT_EQ(kelvora::delta::ApplyPatch(dir.File("old/app"), patch, 150019,
                                       [&](const uint8_t* Data, size_t Size) {
                                         rebuilt.append(reinterpret_cast<const char*>(Data), Size);
                                         return true;
                                       }),
            "");
  EXPECT_EQ(rebuilt, ReadWholeFile(dir.File("build/app")));

  const Outcome verify =
      Tool({"verify", info, "--public-key", pub, "--files", dir.File("build"), "--previous", dir.File("old")});
  EXPECT_EQ(verify.Code, 0) << verify.Output;
  EXPECT_NE(verify.Output.find("3 file(s) listed and matching, 1 patch(es) from older releases matching, 1 rebuilding"),
            std::string::npos)
      << verify.Output;
  // A damaged patch on the way to the server: verify names its key's line.
  WriteTextFile(patch, ReadWholeFile(patch) + "x");
  const Outcome damaged = Tool({"verify", info, "--public-key", pub, "--files", dir.File("build")});
  EXPECT_EQ(damaged.Code, 1);
  EXPECT_NE(damaged.Output.find(info + ":6:"), std::string::npos) << damaged.Output;
}

TEST_F(PublishTool, PatchFormatIsTheSmallerOfTheTwoUnlessNamed) {
  OlderAndNewerRelease();
  // The listed patch of app (its size and first bytes) and the line make printed.
  auto made = [&](const std::vector<std::string>& Format, const std::string& Folder) {
    std::vector<std::string> args = {"make", dir.File("release.json"), "-o", dir.File("info.txt"), "--previous",
                                     dir.File("old"), "--patches", dir.File(Folder), "--patch-level", "3"};
    args.insert(args.end(), Format.begin(), Format.end());
    const Outcome o = Tool(args);
    EXPECT_EQ(o.Code, 0) << o.Output;
    std::vector<kelvora::delta::TPatchOffer> offers;
    std::string reason;
    EXPECT_TRUE(kelvora::delta::ReadPatchOffers(ReadWholeFile(dir.File("info.txt")), "1", offers, reason));
    if (offers.size() != 1) return std::make_pair(int64_t{-1}, o.Output);
    const std::string patch = ReadWholeFile(dir.File(Folder + "/" + offers[0].Address.substr(offers[0].Address.rfind('/') + 1)));
    EXPECT_EQ(static_cast<int64_t>(patch.size()), offers[0].Size);
    return std::make_pair(offers[0].Size, patch.substr(0, 8) + "|" + o.Output);
  };
  const auto zstd = made({"--patch-format", "zstd"}, "z"), matched = made({"--patch-format", "matched"}, "m");
  const auto smallest = made({}, "s");
  EXPECT_EQ(zstd.second.rfind("\x28\xb5\x2f\xfd", 0), 0u) << "a Zstandard frame";
  EXPECT_NE(zstd.second.find("bytes (zstd)"), std::string::npos) << zstd.second;
  EXPECT_EQ(matched.second.rfind("KVMATCH1|", 0), 0u);
  EXPECT_NE(matched.second.find("bytes (matched)"), std::string::npos) << matched.second;
  EXPECT_GT(zstd.first, 0);
  EXPECT_GT(matched.first, 0);
  EXPECT_EQ(smallest.first, std::min(zstd.first, matched.first));
  EXPECT_EQ(Tool({"make", dir.File("release.json"), "-o", dir.File("info.txt"), "--patch-format", "bsdiff"}).Code, 2);
}

TEST_F(PublishTool, PatchesNeverLandOnAFileTheRunReads) {
  OlderAndNewerRelease();
  const std::string info = dir.File("info.txt");
  ASSERT_EQ(Tool({"make", dir.File("release.json"), "-o", info, "--previous", dir.File("old"), "--patches",
                  dir.File("first"), "--patch-level", "1"})
                .Code,
            0);
  std::vector<kelvora::delta::TPatchOffer> offers;
  std::string reason;
  ASSERT_TRUE(kelvora::delta::ReadPatchOffers(ReadWholeFile(info), "1", offers, reason));
  ASSERT_EQ(offers.size(), 1u);
  const std::string name = offers[0].Address.substr(offers[0].Address.rfind('/') + 1);
  // The patch's name in the folder is another name of the new build.
  ASSERT_EQ(::mkdir(dir.File("second").c_str(), 0700), 0);
  ASSERT_EQ(::link(dir.File("build/app").c_str(), dir.File("second/" + name).c_str()), 0);
  const std::string app = ReadWholeFile(dir.File("build/app")), before = ReadWholeFile(info);
  const Outcome o = Tool({"make", dir.File("release.json"), "-o", info, "--previous", dir.File("old"), "--patches",
                          dir.File("second"), "--patch-level", "1"});
  EXPECT_EQ(o.Code, 1);
  EXPECT_NE(o.Output.find("nothing was written"), std::string::npos) << o.Output;
  EXPECT_EQ(ReadWholeFile(dir.File("build/app")), app);
  EXPECT_EQ(ReadWholeFile(info), before) << "the info file is written last";
  // The info file on the patch just written: refused too.
  const Outcome onPatch = Tool({"make", dir.File("release.json"), "-o", dir.File("first/" + name), "--previous",
                                dir.File("old"), "--patches", dir.File("first"), "--patch-level", "1"});
  EXPECT_EQ(onPatch.Code, 1) << onPatch.Output;
}

// Release control from the publisher's side: make writes the rollout and a
// rising sequence, halt stops the release and stays signed, simulate counts
// what the component decides, and what the component would refuse is
// refused here first.
TEST_F(PublishTool, RolloutHaltAndSimulateKeepTheFileSignedAndRising) {
  const std::string key = dir.File("k.pem");
  const Outcome keygen = Tool({"keygen", key});
  ASSERT_EQ(keygen.Code, 0);
  const std::string pub = Trimmed(keygen.Output);
  WritePatternFile(dir.File("build/app"), 100);
  const std::string desc = dir.File("release.json"), info = dir.File("info.txt");
  WriteTextFile(desc,
                R"({"version": "2.0", "rollout": 10, "files": [{"path": "build/app", "url": "https://e.org/a"}]})");
  ASSERT_EQ(Tool({"make", desc, "-o", info, "--key", key}).Code, 0);
  auto sequence = [&] { return kelvora::ParseReleaseInfo(ReadWholeFile(info)).Sequence.value_or(0); };
  const uint64_t first = sequence();
  EXPECT_GE(first, static_cast<uint64_t>(std::time(nullptr)) - 60);
  ASSERT_EQ(Tool({"make", desc, "-o", info, "--key", key}).Code, 0);
  EXPECT_GT(sequence(), first) << "every make raises it";

  const Outcome ten = Tool({"simulate", info, "--installations", "1000", "--check-interval", "3600"});
  ASSERT_EQ(ten.Code, 0) << ten.Output;
  const size_t at = ten.Output.find("offered: ");
  ASSERT_NE(at, std::string::npos) << ten.Output;
  const int offered = std::stoi(ten.Output.substr(at + 9));
  EXPECT_GE(offered, 80);
  EXPECT_LE(offered, 120);
  EXPECT_NE(ten.Output.find(" of 1000\n"), std::string::npos);
  EXPECT_NE(ten.Output.find("halt bound: 3960 s (check interval 3600 s + spread 360 s + cache 0 s)"),
            std::string::npos)
      << ten.Output;

  const uint64_t before = sequence();
  EXPECT_EQ(Tool({"halt", info}).Code, 1) << "a signed file is not changed without the key";
  const Outcome halt = Tool({"halt", info, "--key", key});
  ASSERT_EQ(halt.Code, 0) << halt.Output;
  EXPECT_GT(sequence(), before);
  EXPECT_TRUE(Accepted(info, pub));
  EXPECT_EQ(kelvora::ParseReleaseInfo(ReadWholeFile(info)).Rollout, 0u);
  const Outcome halted = Tool({"simulate", info, "--installations", "1000", "--cache-max-age", "60"});
  EXPECT_NE(halted.Output.find("offered: 0 of 1000\n"), std::string::npos) << halted.Output;
  EXPECT_NE(halted.Output.find("halt bound: 95100 s"), std::string::npos) << halted.Output;
  ASSERT_EQ(Tool({"rollout", info, "20", "--key", key}).Code, 0);
  EXPECT_EQ(kelvora::ParseReleaseInfo(ReadWholeFile(info)).RolloutText, "20");
  EXPECT_EQ(ReadWholeFile(info).find("#rollout="), ReadWholeFile(info).rfind("#rollout=")) << "one rollout key";

  // Refused before anything is written.
  for (const char* bad : {R"("version": "abc")", R"("version": "2.0", "rollout": 150)",
                          R"("version": "2.0", "rollout": "10")", R"("version": "2.0", "message": "#rollout=100")"}) {
    WriteTextFile(desc, std::string("{") + bad + R"(, "files": [{"path": "build/app", "url": "u"}]})");
    const Outcome o = Tool({"make", desc, "-o", dir.File("refused.txt")});
    EXPECT_EQ(o.Code, 1) << bad << o.Output;
  }
  EXPECT_FALSE(FileExists(dir.File("refused.txt")));
  WriteTextFile(info, "#version=2.0\n#sequence=soon\n#url1=https://e.org/a\n");
  ASSERT_EQ(Tool({"sign", info, "--key", key}).Code, 0);
  const Outcome malformed = Tool({"verify", info, "--public-key", pub});
  EXPECT_EQ(malformed.Code, 1);
  EXPECT_NE(malformed.Output.find(info + ":2: malformed #sequence"), std::string::npos) << malformed.Output;
}
