// Matched patches made by hand, step by step: what a hostile patch can say
// in its steps and streams ends in a refusal, never in a read outside the old
// file, more bytes than listed, or a window beyond the cap. And what the
// format is for: code that moved costs little.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>

#include "kelvora/delta/MatchPatchFormat.h"
#include "kelvora/delta/ZstdPatch.h"
#if KV_HAS_MATCH_MAKER
#include "kelvora/delta/MatchPatchMaker.h"
#endif
#include "kelvora/trust/Crypto.h"
#include "support/TestFiles.h"

using namespace kelvora::delta;
using kvtest::RandomBytes;

namespace {

// A Zstandard frame of Bytes that declares a window of 2^WindowLog (no
// content size, and the window not shrunk to fit).
std::string Frame(const std::string& Bytes, int WindowLog = 10) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, WindowLog);
  ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 0);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(Bytes.size()) + 64, '\0');
  ZSTD_inBuffer in{Bytes.data(), Bytes.size(), 0};
  ZSTD_outBuffer o{out.data(), out.size(), 0};
  // Given in two calls, so the library does not see the whole input at once.
  ZSTD_compressStream2(c, &o, &in, ZSTD_e_continue);
  while (ZSTD_compressStream2(c, &o, &in, ZSTD_e_end) != 0) {
  }
  ZSTD_freeCCtx(c);
  out.resize(o.pos);
  return out;
}

void PutNumber(std::string& To, uint64_t V) {
  for (; V >= 0x80; V >>= 7) To += static_cast<char>((V & 0x7f) | 0x80);
  To += static_cast<char>(V);
}
// One step: seek (signed), add, copy.
std::string Step(int64_t Seek, uint64_t Add, uint64_t Copy) {
  std::string s;
  PutNumber(s, (static_cast<uint64_t>(Seek) << 1) ^ static_cast<uint64_t>(Seek >> 63));
  PutNumber(s, Add);
  PutNumber(s, Copy);
  return s;
}

struct THandMade {
  uint64_t OldSize = 0, NewSize = 0;
  std::string NewBytes;  // for the header's SHA-256
  std::string Control, Differences, Extra;
  int DifferencesWindowLog = 10;
};

std::string Pack(const THandMade& P) {
  const std::string control = Frame(P.Control), differences = Frame(P.Differences, P.DifferencesWindowLog),
                    extra = Frame(P.Extra);
  std::string head(kMatchHeaderSize, '\0');
  auto* at = reinterpret_cast<uint8_t*>(head.data());
  std::memcpy(at, kMatchMagic.data(), kMatchMagic.size());
  PutLe64(at + 8, P.OldSize);
  PutLe64(at + 16, P.NewSize);
  const std::string hex = kelvora::trust::Sha256Hex(P.NewBytes);
  for (int i = 0; i < 32; ++i) at[24 + i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  PutLe64(at + 56, control.size());
  PutLe64(at + 64, differences.size());
  PutLe64(at + 72, extra.size());
  return head + control + differences + extra;
}

}  // namespace

TEST(MatchPatch, HostileStepsAndStreamsAreRefusedWithinTheFiles) {
  kvtest::TempDir dir;
  const std::string old = RandomBytes(65536, 7);
  kvtest::WriteTextFile(dir.File("old"), old);
  // The new file: 1000 bytes of the old from 100 with one byte 0x10 higher
  // (carried into the next: 0xf8 + 0x10 makes 0x08 and a carry), then
  // "abc", then 200 old bytes from 600.
  std::string old100 = old.substr(100, 1000);
  old100[10] = static_cast<char>(0xf8);
  old100[11] = 0x20;
  std::string changed = old100;
  changed[10] = 0x08;
  changed[11] = 0x21;
  const std::string next = changed + "abc" + old.substr(600, 200);
  std::string base = old;
  base.replace(100, 1000, old100);
  kvtest::WriteTextFile(dir.File("old"), base);
  std::string diffs(1000, '\0');
  diffs[10] = 0x10;  // the carry makes byte 11, its difference stays 0
  THandMade good{base.size(), next.size(), next, Step(100, 1000, 3) + Step(-500, 200, 0), diffs + std::string(200, '\0'),
                 "abc"};
  std::string out;
  auto apply = [&](const THandMade& P, int64_t Listed) {
    kvtest::WriteTextFile(dir.File("p"), Pack(P));
    out.clear();
    std::string reason = ApplyPatch(dir.File("old"), dir.File("p"), Listed, [&](const uint8_t* D, size_t N) {
      out.append(reinterpret_cast<const char*>(D), N);
      return true;
    });
    EXPECT_LE(static_cast<int64_t>(out.size()), Listed) << "never more than listed";
    return reason;
  };
  ASSERT_EQ(apply(good, static_cast<int64_t>(next.size())), "");
  EXPECT_TRUE(out == next) << "the carry and the steps as the format says";

  const struct {
    const char* name;
    std::string control;
    const char* says;
  } steps[] = {
      {"a seek before the old file", Step(-1, 10, 0), "a step outside"},
      {"a seek past its end", Step(65537, 0, 10), "a step outside"},
      {"an add past its end", Step(65000, 1000, 0), "a step outside"},
      {"a step that makes nothing", Step(0, 0, 0) + good.Control, "a step outside"},
      {"steps that make more than listed", Step(0, 1000000, 0), "a step outside"},
      {"a number of more than 63 bits", std::string(10, '\xff') + '\x01', "a step outside"},
      {"steps that end early", Step(100, 1000, 3), "ends before its steps"},
      {"streams longer than the steps read", good.Control + Step(0, 1, 0), "hold more than"},
  };
  for (const auto& c : steps) {
    THandMade p = good;
    p.Control = c.control;
    EXPECT_NE(apply(p, static_cast<int64_t>(next.size())).find(c.says), std::string::npos) << c.name;
  }
  THandMade shortExtra = good;
  shortExtra.Extra = "ab";
  EXPECT_NE(apply(shortExtra, static_cast<int64_t>(next.size())).find("ends before its steps"), std::string::npos);
  THandMade longer = good;
  longer.Differences += std::string(5000, '\0');
  EXPECT_NE(apply(longer, static_cast<int64_t>(next.size())).find("hold more than"), std::string::npos);
  THandMade wrongSum = good;
  wrongSum.NewBytes += "x";
  EXPECT_NE(apply(wrongSum, static_cast<int64_t>(next.size())).find("another file"), std::string::npos);
  // A bomb listed as 1000 bytes whose header says so: its steps ask for more.
  THandMade bomb = good;
  bomb.NewSize = 1000;
  bomb.Control = Step(0, 60000, 0) + Step(-60000, 60000, 0);
  bomb.Differences = std::string(120000, '\0');
  EXPECT_NE(apply(bomb, 1000).find("a step outside"), std::string::npos);
  // A frame that asks for a window beyond the cap is refused before it is
  // allocated.
  THandMade wide = good;
  wide.DifferencesWindowLog = kMatchStreamWindowLog + 4;
  const std::string tooWide = apply(wide, static_cast<int64_t>(next.size()));
  EXPECT_NE(tooWide.find("memory"), std::string::npos) << tooWide;
}

#if KV_HAS_MATCH_MAKER
TEST(MatchPatch, CodeThatMovedCostsLittle) {
  // "Code": records of 12 shared bytes and a 4-byte address into a table at
  // the end. The new build inserts 40 bytes in the middle: every address
  // after it shifts, and the table moves.
  kvtest::TempDir dir;
  const std::string code = RandomBytes(1 << 19, 11);
  auto build = [&](size_t Inserted) {
    std::string out;
    for (size_t at = 0; at + 12 <= code.size(); at += 12) {
      if (at == code.size() / 2 / 12 * 12) out += RandomBytes(Inserted, 12);
      out.append(code, at, 12);
      const uint32_t address = 0x400000 + static_cast<uint32_t>(at % 4096) + static_cast<uint32_t>(Inserted);
      for (int i = 0; i < 4; ++i) out += static_cast<char>(address >> (8 * i));
    }
    return out;
  };
  const std::string v1 = build(0), v2 = build(40);
  kvtest::WriteTextFile(dir.File("v1"), v1);
  kvtest::WriteTextFile(dir.File("v2"), v2);
  const std::string matched = CreateMatchPatch(dir.File("v1"), dir.File("v2"), 9);
  const std::string zstd = CreateZstdPatch(dir.File("v1"), dir.File("v2"), 9);
  EXPECT_LT(matched.size() * 20, zstd.size()) << matched.size() << " against " << zstd.size();
  EXPECT_LT(matched.size(), 8000u);
  kvtest::WriteTextFile(dir.File("p"), matched);
  std::string out;
  ASSERT_EQ(ApplyPatch(dir.File("v1"), dir.File("p"), static_cast<int64_t>(v2.size()),
                       [&](const uint8_t* D, size_t N) {
                         out.append(reinterpret_cast<const char*>(D), N);
                         return true;
                       }),
            "");
  EXPECT_TRUE(out == v2);
}
#endif
