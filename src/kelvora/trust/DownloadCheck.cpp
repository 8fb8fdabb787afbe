#include "kelvora/trust/DownloadCheck.h"

#include "kelvora/FileCalls.h"
#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

TArrivalHash::TArrivalHash() : hash_(std::make_unique<TSha256>()) {}
TArrivalHash::~TArrivalHash() = default;

void TArrivalHash::Add(int64_t Position, const uint8_t* Data, size_t Size) {
  if (!inOrder_ || Position != next_) {
    inOrder_ = false;
    return;
  }
  hash_->Update(Data, Size);
  next_ += static_cast<int64_t>(Size);
}

std::string TArrivalHash::Digest(int64_t Size) {
  if (!inOrder_ || next_ != Size) return {};
  inOrder_ = false;  // the digest ends the computation
  return hash_->HexDigest();
}

std::string CheckDownload(const std::string& Path, const TFileHash& Expected, TArrivalHash* Arrived) {
  const std::int64_t size = detail::FileSize(Path);
  if (size < 0) return Path + ": cannot be read for its check";
  if (size != Expected.Size) return Path + ": " + std::to_string(size) + " bytes instead of " + std::to_string(Expected.Size);
  if (Arrived != nullptr) {
    const std::string digest = Arrived->Digest(size);
    if (!digest.empty()) return digest == Expected.Sha256 ? std::string() : Path + ": SHA-256 does not match the info file";
  }
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
