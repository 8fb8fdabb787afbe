#include "kelvora/delta/ZstdPatch.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "kelvora/FileCalls.h"
#include "kelvora/delta/PatchBase.h"

#if KELVORA_HAS_ZSTD
#include <zstd.h>
#endif

namespace kelvora::delta {

namespace {

#if KELVORA_HAS_ZSTD
struct TFreeDCtx {
  void operator()(ZSTD_DCtx* C) const { ZSTD_freeDCtx(C); }
};
struct TFreeCCtx {
  void operator()(ZSTD_CCtx* C) const { ZSTD_freeCCtx(C); }
};
#endif

}  // namespace

#if KELVORA_HAS_ZSTD

bool PatchesSupported() { return true; }

std::string ApplyZstdPatch(const std::string& BasePath, const std::string& PatchPath, int64_t ExpectedSize,
                           const TPatchSink& Sink) {
  if (ExpectedSize < 0) return "the patch's result has no size";
  std::string base;
  if (!ReadWhole(BasePath, kLargestPatchedFile, base)) return BasePath + ": cannot be read as the patch's base";
  std::unique_ptr<ZSTD_DCtx, TFreeDCtx> dctx(ZSTD_createDCtx());
  if (!dctx) return "no memory for the patch";
  const int windowLog = WindowLogFor(base.size(), static_cast<uint64_t>(ExpectedSize));
  if (ZSTD_isError(ZSTD_DCtx_setParameter(dctx.get(), ZSTD_d_windowLogMax, windowLog)) ||
      ZSTD_isError(ZSTD_DCtx_refPrefix(dctx.get(), base.data(), base.size())))
    return "the patch cannot be prepared";

  std::vector<uint8_t> out(ZSTD_DStreamOutSize());
  int64_t made = 0;
  size_t pending = 1;  // ZSTD_decompressStream's hint: 0 once the frame ended
  bool frameEnded = false;
  std::string reason;
  const bool read = detail::ReadInChunks(PatchPath, [&](const char* Data, std::size_t Size) {
    ZSTD_inBuffer in{Data, Size, 0};
    while (in.pos < in.size) {
      if (frameEnded) {
        reason = "the patch has bytes after its end";
        return false;
      }
      ZSTD_outBuffer o{out.data(), out.size(), 0};
      pending = ZSTD_decompressStream(dctx.get(), &o, &in);
      if (ZSTD_isError(pending)) {
        reason = std::string("the patch is damaged (") + ZSTD_getErrorName(pending) + ")";
        return false;
      }
      if (o.pos > 0) {
        made += static_cast<int64_t>(o.pos);
        if (made > ExpectedSize) {
          reason = "the patch makes more than the " + std::to_string(ExpectedSize) + " bytes listed";
          return false;
        }
        if (!Sink(out.data(), o.pos)) {
          reason = "the patched file cannot be written";
          return false;
        }
      }
      frameEnded = pending == 0;
    }
    return true;
  });
  if (!reason.empty()) return reason;
  if (!read) return PatchPath + ": cannot be read";
  // The decoder may still hold output after the input ran out.
  while (!frameEnded) {
    ZSTD_inBuffer in{nullptr, 0, 0};
    ZSTD_outBuffer o{out.data(), out.size(), 0};
    pending = ZSTD_decompressStream(dctx.get(), &o, &in);
    if (ZSTD_isError(pending)) return std::string("the patch is damaged (") + ZSTD_getErrorName(pending) + ")";
    if (o.pos == 0) break;
    made += static_cast<int64_t>(o.pos);
    if (made > ExpectedSize)
      return "the patch makes more than the " + std::to_string(ExpectedSize) + " bytes listed";
    if (!Sink(out.data(), o.pos)) return "the patched file cannot be written";
    frameEnded = pending == 0;
  }
  if (!frameEnded) return "the patch is truncated";
  if (made != ExpectedSize)
    return "the patch makes " + std::to_string(made) + " bytes instead of " + std::to_string(ExpectedSize);
  return {};
}

std::string CreateZstdPatch(const std::string& BasePath, const std::string& NewPath, int Level) {
  std::string base, next;
  if (!ReadWhole(BasePath, kLargestPatchedFile, base)) throw std::runtime_error(BasePath + ": cannot be read");
  if (!ReadWhole(NewPath, kLargestPatchedFile, next)) throw std::runtime_error(NewPath + ": cannot be read");
  std::unique_ptr<ZSTD_CCtx, TFreeCCtx> cctx(ZSTD_createCCtx());
  if (!cctx) throw std::runtime_error("no memory for the patch");
  auto set = [&](ZSTD_cParameter P, int V) {
    if (ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), P, V)))
      throw std::runtime_error("the compression library refuses a patch setting");
  };
  set(ZSTD_c_compressionLevel, std::clamp(Level, 1, ZSTD_maxCLevel()));
  set(ZSTD_c_windowLog, WindowLogFor(base.size(), next.size()));
  set(ZSTD_c_enableLongDistanceMatching, 1);
  set(ZSTD_c_checksumFlag, 1);
  if (ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), base.data(), base.size())))
    throw std::runtime_error("the compression library refuses the old file as reference");
  std::string patch(ZSTD_compressBound(next.size()), '\0');
  const size_t n = ZSTD_compress2(cctx.get(), patch.data(), patch.size(), next.data(), next.size());
  if (ZSTD_isError(n)) throw std::runtime_error(std::string("the patch cannot be made: ") + ZSTD_getErrorName(n));
  patch.resize(n);
  return patch;
}

#else

bool PatchesSupported() { return false; }

std::string ApplyZstdPatch(const std::string&, const std::string&, int64_t, const TPatchSink&) {
  return "this build reads no patches";
}

std::string CreateZstdPatch(const std::string&, const std::string&, int) {
  throw std::runtime_error("this build makes no patches");
}

#endif

}  // namespace kelvora::delta
