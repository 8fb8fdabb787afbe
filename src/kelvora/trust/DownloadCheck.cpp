#include "kelvora/trust/DownloadCheck.h"

#include "kelvora/FileCalls.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

std::string CheckDownload(const std::string& Path, const TFileHash& Expected) {
  const std::int64_t size = detail::FileSize(Path);
  if (size < 0) return Path + ": cannot be read for its check";
  if (size != Expected.Size) return Path + ": " + std::to_string(size) + " bytes instead of " + std::to_string(Expected.Size);
  TSha256 hash;
  std::int64_t read = 0;
  const bool ok = detail::ReadInChunks(Path, [&](const char* Data, std::size_t Size) {
    hash.Update(Data, Size);
    read += static_cast<std::int64_t>(Size);
    return read <= Expected.Size;
  });
  if (!ok) return Path + ": cannot be read for its check";
  // The file may have changed since its size was taken.
  if (read != Expected.Size) return Path + ": " + std::to_string(read) + " bytes instead of " + std::to_string(Expected.Size);
  if (hash.HexDigest() != Expected.Sha256) return Path + ": SHA-256 does not match the info file";
  return {};
}

}  // namespace kelvora::trust
