#include "kelvora/delta/MatchPatchMaker.h"

#include <divsufsort.h>
#include <openssl/sha.h>
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "kelvora/delta/MatchPatchFormat.h"

namespace kelvora::delta {

namespace {

using Index = int64_t;

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw std::runtime_error(Path + ": cannot be read");
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw std::runtime_error(Path + ": cannot be read");
  if (bytes.size() >= static_cast<size_t>(std::numeric_limits<saidx_t>::max()))
    throw std::runtime_error(Path + ": a file of 2 GiB or more gets no matched patch");
  return bytes;
}

// The steps and the two byte streams they read, before compression.
struct TStreams {
  std::string Control, Differences, Extra;
  Index PendingSeek = 0;

  void PutUnsigned(uint64_t V) {
    while (V >= 0x80) {
      Control += static_cast<char>((V & 0x7f) | 0x80);
      V >>= 7;
    }
    Control += static_cast<char>(V);
  }
  // A step with nothing to make only moves the old position: its move is
  // folded into the next step's seek.
  void Step(Index Seek, const uint8_t* Old, const uint8_t* New, Index Add, Index Copy) {
    PendingSeek += Seek;
    if (Add + Copy == 0) return;
    const auto seek = static_cast<uint64_t>(PendingSeek);
    PutUnsigned((seek << 1) ^ static_cast<uint64_t>(PendingSeek >> 63));
    PutUnsigned(static_cast<uint64_t>(Add));
    PutUnsigned(static_cast<uint64_t>(Copy));
    PendingSeek = 0;
    int carry = 0;
    for (Index i = 0; i < Add; ++i) {
      const auto d = static_cast<uint8_t>(New[i] - Old[i] - carry);
      Differences += static_cast<char>(d);
      carry = MatchCarry(Old[i], carry, d);
    }
    Extra.append(reinterpret_cast<const char*>(New + Add), static_cast<size_t>(Copy));
  }
};

// A block at a time: long equal runs (padding, tables) are common. (Never
// one memcmp over the whole rest: a checking build reads all of it.)
Index CommonPrefix(const uint8_t* A, Index ALen, const uint8_t* B, Index BLen) {
  constexpr Index kBlock = 64;
  const Index n = std::min(ALen, BLen);
  Index i = 0;
  while (i + kBlock <= n && std::memcmp(A + i, B + i, kBlock) == 0) i += kBlock;
  for (; i + 8 <= n; i += 8) {
    uint64_t a, b;
    std::memcpy(&a, A + i, 8);
    std::memcpy(&b, B + i, 8);
    if (a != b) return i + std::countr_zero(a ^ b) / 8;  // little-endian: the first byte is the lowest
  }
  while (i < n && A[i] == B[i]) ++i;
  return i;
}

// The longest prefix of New found anywhere in Old, by binary search over
// Old's sorted suffixes; its length, and its place in Pos. Every suffix
// between two others shares at least the shorter of their common prefixes
// with New, so each comparison starts past it.
Index LongestMatch(const std::vector<saidx_t>& Sorted, const uint8_t* Old, Index OldSize, const uint8_t* New,
                   Index NewSize, Index& Pos) {
  if (OldSize == 0) return Pos = 0;
  auto common = [&](Index Rank, Index From) {
    const Index at = Sorted[static_cast<size_t>(Rank)];
    return From + CommonPrefix(Old + at + From, OldSize - at - From, New + From, NewSize - From);
  };
  Index lo = 0, hi = OldSize - 1;
  Index lcpLo = common(lo, 0), lcpHi = common(hi, 0);
  while (hi - lo >= 2) {
    const Index mid = lo + (hi - lo) / 2;
    const Index at = Sorted[static_cast<size_t>(mid)];
    const Index k = common(mid, std::min(lcpLo, lcpHi));
    // As memcmp over the shorter of the two: below New goes up, else down.
    if (k < std::min(OldSize - at, NewSize) && Old[at + k] < New[k]) {
      lo = mid;
      lcpLo = k;
    } else {
      hi = mid;
      lcpHi = k;
    }
  }
  Pos = Sorted[static_cast<size_t>(lcpLo > lcpHi ? lo : hi)];
  return std::max(lcpLo, lcpHi);
}

// The matching: walks the new file looking for an exact match in the old
// one that the current alignment (the last match's offset, extended) does
// not already explain by more than a few bytes. Between two such matches,
// the last one is extended forward and the next one backward as far as at
// least half their bytes agree; what neither covers is new bytes.
TStreams Match(const uint8_t* Old, Index OldSize, const uint8_t* New, Index NewSize) {
  std::vector<saidx_t> sorted(static_cast<size_t>(OldSize));
  if (OldSize > 0 && divsufsort(Old, sorted.data(), static_cast<saidx_t>(OldSize)) != 0)
    throw std::runtime_error("the old file cannot be sorted (no memory?)");
  TStreams s;
  s.Differences.reserve(static_cast<size_t>(NewSize));
  auto same = [&](Index OldAt, Index NewAt) { return OldAt >= 0 && OldAt < OldSize && Old[OldAt] == New[NewAt]; };
  Index scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
  while (scan < NewSize) {
    Index oldScore = 0;
    for (Index scsc = scan += len; scan < NewSize; ++scan) {
      len = LongestMatch(sorted, Old, OldSize, New + scan, NewSize - scan, pos);
      for (; scsc < scan + len; ++scsc)
        if (same(scsc + lastOffset, scsc)) ++oldScore;
      if ((len == oldScore && len != 0) || len > oldScore + 8) break;
      if (same(scan + lastOffset, scan)) --oldScore;
    }
    if (len == oldScore && scan != NewSize) continue;

    // Forward from the last match: the longest stretch where at least half agree.
    Index lenF = 0;
    for (Index i = 0, agree = 0, best = 0; lastScan + i < scan && lastPos + i < OldSize;) {
      if (Old[lastPos + i] == New[lastScan + i]) ++agree;
      ++i;
      if (agree * 2 - i > best * 2 - lenF) {
        best = agree;
        lenF = i;
      }
    }
    // Backward from the next one.
    Index lenB = 0;
    if (scan < NewSize) {
      for (Index i = 1, agree = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
        if (Old[pos - i] == New[scan - i]) ++agree;
        if (agree * 2 - i > best * 2 - lenB) {
          best = agree;
          lenB = i;
        }
      }
    }
    // Where both reach over the same bytes, the split that keeps most agreeing.
    if (lastScan + lenF > scan - lenB) {
      const Index overlap = (lastScan + lenF) - (scan - lenB);
      Index score = 0, best = 0, split = 0;
      for (Index i = 0; i < overlap; ++i) {
        if (New[lastScan + lenF - overlap + i] == Old[lastPos + lenF - overlap + i]) ++score;
        if (New[scan - lenB + i] == Old[pos - lenB + i]) --score;
        if (score > best) {
          best = score;
          split = i + 1;
        }
      }
      lenF += split - overlap;
      lenB -= split;
    }
    s.Step(0, Old + lastPos, New + lastScan, lenF, (scan - lenB) - (lastScan + lenF));
    s.PendingSeek += (pos - lenB) - (lastPos + lenF);
    lastScan = scan - lenB;
    lastPos = pos - lenB;
    lastOffset = pos - scan;
  }
  return s;
}

struct TFreeCCtx {
  void operator()(ZSTD_CCtx* C) const { ZSTD_freeCCtx(C); }
};

// One Zstandard frame of Bytes (with a checksum), with Prefix as its
// reference when given.
std::string Compress(const std::string& Bytes, int Level, int WindowLog, const std::string* Prefix) {
  std::unique_ptr<ZSTD_CCtx, TFreeCCtx> cctx(ZSTD_createCCtx());
  if (!cctx) throw std::runtime_error("no memory for the patch");
  auto set = [&](ZSTD_cParameter P, int V) {
    if (ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), P, V)))
      throw std::runtime_error("the compression library refuses a patch setting");
  };
  const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
  set(ZSTD_c_compressionLevel, std::clamp(Level, 1, ZSTD_maxCLevel()));
  set(ZSTD_c_windowLog, std::clamp(WindowLog, bounds.lowerBound, bounds.upperBound));
  set(ZSTD_c_checksumFlag, 1);
  if (Prefix != nullptr) {
    set(ZSTD_c_enableLongDistanceMatching, 1);
    if (ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), Prefix->data(), Prefix->size())))
      throw std::runtime_error("the compression library refuses the old file as reference");
  }
  std::string out(ZSTD_compressBound(Bytes.size()), '\0');
  const size_t n = ZSTD_compress2(cctx.get(), out.data(), out.size(), Bytes.data(), Bytes.size());
  if (ZSTD_isError(n)) throw std::runtime_error(std::string("the patch cannot be made: ") + ZSTD_getErrorName(n));
  out.resize(n);
  return out;
}

}  // namespace

std::string CreateMatchPatch(const std::string& BasePath, const std::string& NewPath, int Level) {
  const std::string old = ReadFile(BasePath), next = ReadFile(NewPath);
  const auto* o = reinterpret_cast<const uint8_t*>(old.data());
  const auto* n = reinterpret_cast<const uint8_t*>(next.data());
  const TStreams s = Match(o, static_cast<Index>(old.size()), n, static_cast<Index>(next.size()));

  const int streamLog = std::min(kMatchStreamWindowLog, static_cast<int>(std::bit_width(next.size() | 1)));
  const std::string control = Compress(s.Control, Level, streamLog, nullptr);
  const std::string differences = Compress(s.Differences, Level, streamLog, nullptr);
  const std::string extra =
      Compress(s.Extra, Level, static_cast<int>(std::bit_width(std::max<size_t>(old.size() + next.size(), 1))), &old);

  TMatchHeader h;
  h.OldSize = old.size();
  h.NewSize = next.size();
  SHA256(n, next.size(), h.NewSha256.data());
  std::string patch(kMatchHeaderSize, '\0');
  auto* at = reinterpret_cast<uint8_t*>(patch.data());
  std::memcpy(at, kMatchMagic.data(), kMatchMagic.size());
  PutLe64(at + 8, h.OldSize);
  PutLe64(at + 16, h.NewSize);
  std::memcpy(at + 24, h.NewSha256.data(), h.NewSha256.size());
  PutLe64(at + 56, control.size());
  PutLe64(at + 64, differences.size());
  PutLe64(at + 72, extra.size());
  return patch + control + differences + extra;
}

}  // namespace kelvora::delta
