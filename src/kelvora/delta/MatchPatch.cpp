#include "kelvora/delta/MatchPatch.h"

#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "kelvora/FileCalls.h"
#include "kelvora/delta/MatchPatchFormat.h"
#include "kelvora/delta/PatchBase.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora::delta {

namespace {

std::filesystem::path NativePath(const std::string& Utf8) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(Utf8.data()), Utf8.size()));
}

struct TFreeFrameDCtx {
  void operator()(ZSTD_DCtx* C) const { ZSTD_freeDCtx(C); }
};

// One of the patch's three frames, read from its own place in the patch
// file and decompressed as the steps ask for bytes.
class TFrameReader {
 public:
  // The frame at [Offset, Offset + Size) of the file at Path, decoded with
  // at most 2^WindowLogMax bytes of window, with Prefix as its reference
  // when given. Empty when ready; otherwise why not.
  std::string Open(const std::string& Path, uint64_t Offset, uint64_t Size, int WindowLogMax, const std::string* Prefix) {
    file_.open(NativePath(Path), std::ios::binary);
    if (!file_ || !file_.seekg(static_cast<std::streamoff>(Offset))) return Path + ": cannot be read";
    left_ = Size;
    dctx_.reset(ZSTD_createDCtx());
    if (!dctx_) return "no memory for the patch";
    if (ZSTD_isError(ZSTD_DCtx_setParameter(dctx_.get(), ZSTD_d_windowLogMax, WindowLogMax)) ||
        (Prefix != nullptr && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx_.get(), Prefix->data(), Prefix->size()))))
      return "the patch cannot be prepared";
    input_.resize(ZSTD_DStreamInSize());
    output_.resize(ZSTD_DStreamOutSize());
    return {};
  }

  // Exactly Count bytes into Out; false (with Error()) when the frame ends
  // before them or cannot be read.
  bool Read(uint8_t* Out, size_t Count) {
    while (Count > 0) {
      if (at_ == end_ && !Fill()) return Fail("the patch is damaged (a stream ends before its steps)");
      const size_t n = std::min(Count, end_ - at_);
      std::memcpy(Out, output_.data() + at_, n);
      at_ += n;
      Out += n;
      Count -= n;
    }
    return true;
  }

  // After the last byte the steps read: the frame must end there, checksum
  // and all, and the file's place for it with the frame.
  bool Finish() {
    if (at_ != end_ || (!ended_ && Fill())) return Fail("the patch's streams hold more than its steps read");
    if (!error_.empty()) return false;
    if (in_.pos != in_.size || left_ != 0) return Fail("the patch has bytes after the end of a stream");
    return true;
  }

  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string Reason) {
    if (error_.empty()) error_ = std::move(Reason);
    return false;
  }
  // Decodes more of the frame into the output buffer; false at its end or
  // on a fault (Error() says which).
  bool Fill() {
    at_ = end_ = 0;
    while (!ended_) {
      if (in_.pos == in_.size && left_ > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left_, input_.size()));
        if (!file_.read(reinterpret_cast<char*>(input_.data()), static_cast<std::streamsize>(n)))
          return Fail("the patch cannot be read");
        left_ -= n;
        in_ = {input_.data(), n, 0};
      }
      ZSTD_outBuffer out{output_.data(), output_.size(), 0};
      const size_t hint = ZSTD_decompressStream(dctx_.get(), &out, &in_);
      if (ZSTD_isError(hint)) return Fail(std::string("the patch is damaged (") + ZSTD_getErrorName(hint) + ")");
      ended_ = hint == 0;
      end_ = out.pos;
      if (end_ > 0) return true;
      // Nothing made, nothing left to give it, and the frame not ended.
      if (!ended_ && in_.pos == in_.size && left_ == 0) return Fail("the patch is truncated");
    }
    return false;
  }

  std::ifstream file_;
  uint64_t left_ = 0;  // of the frame's bytes in the file, not yet read
  std::unique_ptr<ZSTD_DCtx, TFreeFrameDCtx> dctx_;
  std::vector<uint8_t> input_, output_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  size_t at_ = 0, end_ = 0;  // the decoded bytes in output_ not yet read
  bool ended_ = false;
  std::string error_;
};

// One LEB128 number of the control stream, at most 63 bits.
bool ReadStepNumber(TFrameReader& Control, uint64_t& Value) {
  Value = 0;
  for (int shift = 0; shift < 63; shift += 7) {
    uint8_t byte = 0;
    if (!Control.Read(&byte, 1)) return false;
    Value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return Value < (uint64_t{1} << 63);
  }
  return false;
}

}  // namespace

std::string ApplyMatchPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                            const TPatchSink& Sink) {
  if (ExpectedSize < 0) return "the patch's result has no size";
  const int64_t patchSize = detail::FileSize(PatchPath);
  if (patchSize < 0) return PatchPath + ": cannot be read";
  std::array<uint8_t, kMatchHeaderSize> head{};
  {
    std::ifstream in(NativePath(PatchPath), std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(head.data()), head.size())) return "the patch is truncated";
  }
  TMatchHeader h;
  h.OldSize = GetLe64(&head[8]);
  h.NewSize = GetLe64(&head[16]);
  std::memcpy(h.NewSha256.data(), &head[24], h.NewSha256.size());
  h.Control = GetLe64(&head[56]);
  h.Differences = GetLe64(&head[64]);
  h.Extra = GetLe64(&head[72]);
  const auto frames = static_cast<uint64_t>(patchSize) - kMatchHeaderSize;
  if (h.NewSize != static_cast<uint64_t>(ExpectedSize))
    return "the patch makes " + std::to_string(h.NewSize) + " bytes instead of " + std::to_string(ExpectedSize);
  if (h.OldSize != static_cast<uint64_t>(std::max<int64_t>(0, detail::FileSize(BasePath))))
    return BasePath + ": not the file the patch applies to (another size)";
  if (h.Control > frames || h.Differences > frames || h.Extra > frames ||
      h.Control + h.Differences + h.Extra > frames)
    return "the patch is truncated";
  if (h.Control + h.Differences + h.Extra < frames) return "the patch has bytes after its end";

  std::string base;
  if (!ReadWhole(BasePath, kLargestPatchedFile, base) || base.size() != h.OldSize)
    return BasePath + ": cannot be read as the patch's base";
  TFrameReader control, differences, extra;
  const int streamLog = std::min(kMatchStreamWindowLog, WindowLogFor(h.NewSize, 0));
  std::string reason = control.Open(PatchPath, kMatchHeaderSize, h.Control, streamLog, nullptr);
  if (reason.empty())
    reason = differences.Open(PatchPath, kMatchHeaderSize + h.Control, h.Differences, streamLog, nullptr);
  if (reason.empty())
    reason = extra.Open(PatchPath, kMatchHeaderSize + h.Control + h.Differences, h.Extra,
                        WindowLogFor(h.OldSize + h.NewSize, 0), &base);
  if (!reason.empty()) return reason;

  const auto* old = reinterpret_cast<const uint8_t*>(base.data());
  const auto oldSize = static_cast<int64_t>(h.OldSize);
  std::vector<uint8_t> buffer(64 * 1024);
  trust::TSha256 made;
  auto hand = [&](size_t N) {
    made.Update(buffer.data(), N);
    return Sink(buffer.data(), N);
  };
  const std::string damaged = "the patch is damaged (a step outside the files)";
  const std::string unwritable = "the patched file cannot be written";
  int64_t left = ExpectedSize, oldAt = 0;
  while (left > 0) {
    uint64_t seek = 0, add = 0, copy = 0;
    if (!ReadStepNumber(control, seek) || !ReadStepNumber(control, add) || !ReadStepNumber(control, copy))
      return control.Error().empty() ? damaged : control.Error();
    // Zig-zag: the lowest bit is the sign.
    const int64_t move = (seek & 1) != 0 ? -static_cast<int64_t>(seek >> 1) - 1 : static_cast<int64_t>(seek >> 1);
    if (move < -oldAt || move > oldSize - oldAt) return damaged;
    oldAt += move;
    if (add + copy == 0 || add > static_cast<uint64_t>(left) || copy > static_cast<uint64_t>(left) - add ||
        add > static_cast<uint64_t>(oldSize - oldAt))
      return damaged;
    left -= static_cast<int64_t>(add + copy);
    for (int carry = 0; add > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(add, buffer.size()));
      if (!differences.Read(buffer.data(), n)) return differences.Error();
      const uint8_t* from = old + oldAt;
      for (size_t i = 0; i < n;) {
        if (carry == 0) {
          // Most differences are zero: such a run is the old bytes as they are.
          size_t j = i;
          for (uint64_t word = 0; j + 8 <= n && (std::memcpy(&word, &buffer[j], 8), word == 0);) j += 8;
          while (j < n && buffer[j] == 0) ++j;
          std::memcpy(&buffer[i], from + i, j - i);
          if ((i = j) == n) break;
        }
        const uint8_t d = buffer[i], o = from[i];
        buffer[i] = static_cast<uint8_t>(o + carry + d);
        carry = MatchCarry(o, carry, d);
        ++i;
      }
      if (!hand(n)) return unwritable;
      oldAt += static_cast<int64_t>(n);
      add -= n;
    }
    while (copy > 0) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(copy, buffer.size()));
      if (!extra.Read(buffer.data(), n)) return extra.Error();
      if (!hand(n)) return unwritable;
      copy -= n;
    }
  }
  for (TFrameReader* stream : {&control, &differences, &extra})
    if (!stream->Finish()) return stream->Error();
  std::string expected;
  for (const uint8_t b : h.NewSha256) {
    constexpr char kHex[] = "0123456789abcdef";
    expected += kHex[b >> 4];
    expected += kHex[b & 15];
  }
  if (made.HexDigest() != expected) return "the patch makes another file than it names (applied to another base?)";
  return {};
}

}  // namespace kelvora::delta
