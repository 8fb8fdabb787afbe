// Patches from the installed release against nginx and the fault server: a
// round from release 1 to 2 to 3 that fetches only the patches, and hostile
// patches that end in the one whole download or a clear stop.
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "engine/EngineFixture.h"
#include "kelvora/DeveloperLog.h"
#include "kelvora/ReleaseRecord.h"
#include "kelvora/delta/PatchOffer.h"
#include "kelvora/delta/MatchPatchMaker.h"
#include "kelvora/delta/ZstdPatch.h"
#include "kelvora/trust/Crypto.h"
#include "support/FaultServer.h"

using namespace kelvora;
using namespace kvtest;

namespace {

// The next build of a program: a changed stretch and a few new bytes.
std::string NextBuild(std::string Bytes, unsigned Seed) {
  Bytes.replace(Bytes.size() / 3, 1500, RandomBytes(1500, Seed));
  Bytes.insert(Bytes.size() * 2 / 3, RandomBytes(4000, Seed + 1));
  return Bytes;
}

std::string HashValue(const std::string& Bytes) {
  return "sha256:" + trust::Sha256Hex(Bytes) + " " + std::to_string(Bytes.size());
}

// Requests nginx served for Path, and the body bytes it sent for them.
struct TServed {
  int Requests = 0;
  int64_t Bytes = 0;
};
TServed ServedFor(const Nginx& Server, const std::string& Path) {
  TServed s;
  std::istringstream log(Server.AccessLog());
  for (std::string line; std::getline(log, line);) {
    // "GET <path> HTTP/1.1 <status> <body bytes> ..."
    const std::string request = "GET " + Path + " HTTP/1.1 ";
    if (line.rfind(request, 0) != 0) continue;
    int status = 0;
    long long bytes = 0;
    if (std::sscanf(line.c_str() + request.size(), "%d %lld", &status, &bytes) != 2) continue;
    ++s.Requests;
    s.Bytes += bytes;
  }
  return s;
}

struct TFormat {
  const char* Name;
  std::string (*Make)(const std::string& Base, const std::string& New, int Level);
};
// Named by its format in the test's name (not by its bytes).
void PrintTo(const TFormat& F, std::ostream* Out) { *Out << F.Name; }

}  // namespace

// Every round runs with patches of each format.
class DeltaFlowTest : public EngineTest, public testing::WithParamInterface<TFormat> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!delta::PatchesSupported()) GTEST_SKIP() << "this build has no patches";
    k->OnPatchApplied = [this](TObject*, const std::string& url, int64_t patch, int64_t file) {
      Record("PatchApplied:" + url.substr(url.rfind('/') + 1) + ":" + std::to_string(patch) + ":" +
             std::to_string(file));
    };
    k->OnVerificationFailed = [this](TObject*, const std::string& reason) { Record("Refused:" + reason); };
    SetDeveloperLog([this](const std::string& Line) { notes += Line + "\n"; });
  }
  void TearDown() override {
    SetDeveloperLog(nullptr);
    EngineTest::TearDown();
  }
  // Publishes Bytes at Path on nginx and a patch to them from Base at
  // PatchPath; returns the "#patch" value offering it.
  std::string Offer(const std::string& Base, const std::string& Bytes, const std::string& PatchPath) {
    WriteTextFile(dir.File("base"), Base);
    WriteTextFile(dir.File("new"), Bytes);
    const std::string patch = Make(dir.File("base"), dir.File("new"));
    server->AddTextFile(PatchPath.substr(1), patch);
    return delta::FormatPatchValue(
        {trust::Sha256Hex(Base), trust::Sha256Hex(patch), static_cast<int64_t>(patch.size()), server->Url(PatchPath)});
  }
  // What the updater does with the run's downloads: each takes its target's
  // place (the updater itself is a stand-in here).
  void Install(const std::vector<std::string>& Targets) {
    for (const auto& t : Targets) std::filesystem::rename(t + ".uTMP", t);
    ClearState();
    ::unlink(ReleaseRecordPath().c_str());
  }
  bool NoPatchFilesLeft() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
      if (e.path().string().ends_with(".uDIFF") || e.path().string().ends_with(".uPART")) return false;
    return true;
  }
  std::string Make(const std::string& Base, const std::string& New) const { return GetParam().Make(Base, New, 3); }
  std::string notes;  // the developer log
};

INSTANTIATE_TEST_SUITE_P(Formats, DeltaFlowTest,
                         testing::Values(TFormat{"Zstd", delta::CreateZstdPatch},
                                         TFormat{"Matched", delta::CreateMatchPatch}),
                         [](const testing::TestParamInfo<TFormat>& I) { return std::string(I.param.Name); });

TEST_P(DeltaFlowTest, ReleaseOneToTwoToThreeFetchesOnlyThePatchesAndInstallsTheExactFiles) {
  const std::string prog1 = ReadWholeFile(KVTEST_REAL_PROGRAM);
  ASSERT_GT(prog1.size(), 100000u);
  const std::string prog2 = NextBuild(prog1, 1), prog3 = NextBuild(prog2, 3);
  std::string notes1 = "Release notes\n";
  for (int i = 0; i < 2000; ++i) notes1 += "line " + std::to_string(i) + ": nothing changed here\n";
  const std::string notes2 = notes1 + "2: faster\n", notes3 = notes2 + "3: smaller\n";
  const std::string prog = dir.File("prog"), notes = dir.File("notes.txt");
  WriteTextFile(prog, prog1);
  WriteTextFile(notes, notes1);

  // 1 -> 2, signed: both files from patches.
  server->AddTextFile("r2/prog", prog2);
  server->AddTextFile("r2/notes.txt", notes2);
  const trust::TKeyPair key = trust::GenerateKeyPair();
  k->SetPublicKey(trust::Base64Encode(key.PublicKeyDer));
  const std::string body2 = "#date=12/30/2099\n#url1=" + server->Url("/r2/prog") + "=" + prog + "\n#hash1=" +
                            HashValue(prog2) + "\n#patch1.1=" + Offer(prog1, prog2, "/p/prog.1-2") + "\n#url2=" +
                            server->Url("/r2/notes.txt") + "=" + notes + "\n#hash2=" + HashValue(notes2) +
                            "\n#patch2.1=" + Offer(notes1, notes2, "/p/notes.1-2") + "\n";
  PublishInfo(body2 + "#signature=" + trust::Base64Encode(trust::SignMessage(key.PrivateKeyPem, body2)) + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  const TServed p12 = ServedFor(*server, "/p/prog.1-2"), n12 = ServedFor(*server, "/p/notes.1-2");
  const auto patched = [](const std::string& Patch, int64_t PatchSize, size_t FileSize, const std::string& File) {
    const std::string size = std::to_string(PatchSize);
    return "FileStart:" + Patch + ":" + size + ";Progress;PatchApplied:" + Patch + ":" + size + ":" +
           std::to_string(FileSize) + ";FileDone:" + File + ".uTMP;";
  };
  EXPECT_EQ(Events(), "BeginUpgrade:0:2:;" + patched("prog.1-2", p12.Bytes, prog2.size(), "prog") +
                          patched("notes.1-2", n12.Bytes, notes2.size(), "notes.txt") + "EndUpgrade;OwnClose");
  EXPECT_EQ(p12.Requests + n12.Requests, 2);
  EXPECT_LT(p12.Bytes * 20, static_cast<int64_t>(prog2.size())) << "a patch is a small part of the program";
  EXPECT_EQ(ServedFor(*server, "/r2/prog").Requests + ServedFor(*server, "/r2/notes.txt").Requests, 0)
      << "no whole file was fetched";
  EXPECT_EQ(k->PatchSavedBytes(), static_cast<int64_t>(prog2.size() + notes2.size()) - p12.Bytes - n12.Bytes);
  EXPECT_EQ(ui.Count("WizardFile:" + server->Url("/p/prog.1-2") + "|"), 1) << "the wizard shows what is fetched";
  EXPECT_TRUE(NoPatchFilesLeft());
  Install({prog, notes});
  EXPECT_TRUE(ReadWholeFile(prog) == prog2);
  EXPECT_TRUE(ReadWholeFile(notes) == notes2);

  // 2 -> 3, unsigned: patches from 1 and from 2 are offered, the one for the
  // installed release is taken; the notes were edited locally, so no patch
  // fits them and they come whole.
  k->SetPublicKey("");
  WriteTextFile(notes, notes2 + "my own line\n");
  server->AddTextFile("r3/prog", prog3);
  server->AddTextFile("r3/notes.txt", notes3);
  events.clear();
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/r3/prog") + "=" + prog + "\n#hash1=" + HashValue(prog3) +
              "\n#patch1.1=" + Offer(prog1, prog3, "/p/prog.1-3") + "\n#patch1.2=" + Offer(prog2, prog3, "/p/prog.2-3") +
              "\n#url2=" + server->Url("/r3/notes.txt") + "=" + notes + "\n#hash2=" + HashValue(notes3) +
              "\n#patch2.1=" + Offer(notes2, notes3, "/p/notes.2-3") + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_TRUE(Has("PatchApplied:prog.2-3:")) << Events();
  EXPECT_TRUE(Has("FileStart:notes.txt:" + std::to_string(notes3.size()))) << Events();
  EXPECT_EQ(ServedFor(*server, "/p/prog.1-3").Requests + ServedFor(*server, "/p/notes.2-3").Requests +
                ServedFor(*server, "/r3/prog").Requests,
            0);
  EXPECT_EQ(ServedFor(*server, "/p/prog.2-3").Requests, 1);
  EXPECT_EQ(k->PatchSavedBytes(), static_cast<int64_t>(prog3.size()) - ServedFor(*server, "/p/prog.2-3").Bytes);
  Install({prog, notes});
  EXPECT_TRUE(ReadWholeFile(prog) == prog3);
  EXPECT_TRUE(ReadWholeFile(notes) == notes3);
}

TEST_P(DeltaFlowTest, HostilePatchesEndInTheOneWholeDownloadOrAClearStop) {
  FaultServer faults;
  const std::string v1 = ReadWholeFile(KVTEST_REAL_PROGRAM);
  const std::string v2 = NextBuild(v1, 5);
  const std::string prog = dir.File("prog");
  const std::string good = Offer(v1, v2, "/p/good");
  const std::string goodPatch = ReadWholeFile(server->Root() + "/p/good");
  const auto listed = delta::ParsePatchValue(good);
  ASSERT_TRUE(listed);
  // Serves Bytes at Path and offers them, listed with the good patch's hash
  // and size (Honest false) or with their own (true).
  auto served = [&](const std::string& Path, const std::string& Bytes, bool Honest) {
    server->AddTextFile(Path.substr(1), Bytes);
    delta::TPatchOffer o = *listed;
    o.Address = server->Url(Path);
    if (Honest) o = {o.BaseSha256, trust::Sha256Hex(Bytes), static_cast<int64_t>(Bytes.size()), o.Address};
    return delta::FormatPatchValue(o);
  };
  auto at = [&](const std::string& Address) {
    delta::TPatchOffer o = *listed;
    o.Address = Address;
    return delta::FormatPatchValue(o);
  };
  std::string flipped = goodPatch;
  flipped[flipped.size() / 2] ^= 0x40;
  const std::string half = goodPatch.substr(0, goodPatch.size() / 2);
  // A base that holds the new bytes itself: its patch refers to them there.
  const std::string otherBase = v1 + RandomBytes(4000, 6) + RandomBytes(1500, 5);
  WriteTextFile(dir.File("other"), otherBase);
  WriteTextFile(dir.File("v1"), v1);
  WriteTextFile(dir.File("v2"), v2);
  const std::string foreign = Make(dir.File("other"), dir.File("v2"));
  WriteTextFile(dir.File("bomb"), v2 + std::string(1 << 20, '\0'));
  const std::string bomb = Make(dir.File("v1"), dir.File("bomb"));
  WriteTextFile(dir.File("bomb"), v2 + std::string(300000, '\0'));  // within the window the sizes allow
  const std::string smallBomb = Make(dir.File("v1"), dir.File("bomb"));

  const struct {
    const char* name;
    std::string offer;
    const char* ends;  // the run's last event: OwnClose after the whole file, or a stop
  } cases[] = {
      {"corrupt", served("/p/corrupt", flipped, false), "OwnClose"},
      {"corrupt, listed as served", served("/p/corrupt2", flipped, true), "OwnClose"},
      {"truncated", served("/p/half", half, false), "OwnClose"},
      {"truncated, listed as served", served("/p/half2", half, true), "OwnClose"},
      {"for another base", served("/p/foreign", foreign, true), "OwnClose"},
      {"a bomb past the listed size", served("/p/bomb", bomb, true), "OwnClose"},
      {"a bomb within the window", served("/p/bomb2", smallBomb, true), "OwnClose"},
      {"not on the server", at(server->Url("/p/missing")), "OwnClose"},
      {"endless", at(faults.Url("/nolength?n=50000000")), "OwnClose"},
      {"connection cut", at(faults.Url("/truncated?n=" + std::to_string(listed->Size) + "&send=100")), "ConnLost"},
      {"cancelled", at(faults.Url("/slow?n=" + std::to_string(listed->Size) + "&chunk=100&delay=50")), "Aborted"},
  };
  // The user cancels while the slow patch arrives.
  k->OnProgress = [this](TObject*, const std::string& url, int64_t, int64_t read, int32_t, int32_t, uint8_t, uint8_t,
                         float) {
    if (url.find("/slow") != std::string::npos && read > 0) k->AbortUpgrade();
  };
  // A malformed offer refuses the info file, like a malformed "#hash"; an
  // offer for a file without "#hash" (nothing to check the result against)
  // is not used.
  WriteTextFile(prog, v1);
  server->AddTextFile("whole0", v2);
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/whole0") + "=" + prog + "\n#hash1=" + HashValue(v2) +
              "\n#patch1.1=" + good.substr(0, 70) + "\n");
  ASSERT_TRUE(RunCheckUntil("Aborted")) << Events();
  EXPECT_TRUE(Has("Refused:malformed #patch1.1")) << Events();
  EXPECT_FALSE(Has("BeginUpgrade"));
  events.clear();
  PublishInfo("#date=12/31/2099\n#url1=" + server->Url("/whole0") + "=" + prog + "\n#patch1.1=" + good + "\n");
  ASSERT_TRUE(RunCheckUntil("OwnClose")) << Events();
  EXPECT_EQ(ServedFor(*server, "/p/good").Requests, 0);
  EXPECT_TRUE(ReadWholeFile(prog + ".uTMP") == v2);

  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ClearState();
    ::unlink(ReleaseRecordPath().c_str());
    events.clear();
    notes.clear();
    WriteTextFile(prog, v1);
    const std::string whole = "/whole" + std::to_string(++n);
    server->AddTextFile(whole.substr(1), v2);
    PublishInfo("#date=12/31/2099\n#url1=" + server->Url(whole) + "=" + prog + "\n#hash1=" + HashValue(v2) +
                "\n#patch1.1=" + c.offer + "\n");
    ASSERT_TRUE(RunCheckUntil(c.ends)) << Events();
    EXPECT_FALSE(Has("PatchApplied")) << Events();
    EXPECT_FALSE(Has("LostFile") || Has("Refused") || (Has("Aborted") && std::string(c.ends) != "Aborted"))
        << "a patch is no reason to stop: " << Events();
    EXPECT_EQ(k->PatchSavedBytes(), 0);
    EXPECT_TRUE(NoPatchFilesLeft());
    EXPECT_TRUE(ReadWholeFile(prog) == v1) << "the installed file is never touched";
    if (std::string(c.ends) == "OwnClose") {
      EXPECT_EQ(ServedFor(*server, whole).Requests, 1) << "the whole file, once";
      EXPECT_TRUE(ReadWholeFile(prog + ".uTMP") == v2);
      EXPECT_TRUE(Has("FileStart:whole" + std::to_string(n) + ":" + std::to_string(v2.size()))) << Events();
      EXPECT_NE(notes.find("is not used ("), std::string::npos) << "the developer is told why: " << notes;
    } else {
      EXPECT_EQ(ServedFor(*server, whole).Requests, 0) << "a lost connection or a cancel ends the run";
      EXPECT_FALSE(FileExists(prog + ".uTMP"));
      EXPECT_FALSE(Has("EndUpgrade"));
    }
  }
}
