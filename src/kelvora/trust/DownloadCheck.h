// The check of one finished download against the size and SHA-256 its info
// file lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kelvora/trust/Crypto.h"
#include "kelvora/trust/TrustFormat.h"

namespace kelvora::trust {

// The SHA-256 of a file computed from its bytes as they are written. Add is
// called by the writer (any thread); Digest only after the writer is done.
class TArrivalHash {
 public:
  TArrivalHash();
  ~TArrivalHash();
  void Add(int64_t Position, const uint8_t* Data, size_t Size);
  // The digest in hex when the bytes added were exactly those from 0 to
  // Size, in order; empty otherwise (a restart, a gap, more bytes).
  std::string Digest(int64_t Size);

 private:
  std::unique_ptr<TSha256> hash_;
  int64_t next_ = 0;
  bool inOrder_ = true;
};

// Empty when the file at Path has exactly Expected's size and hash;
// otherwise the reason, naming the file. With Arrived holding the hash of
// every byte as written, the file is not read again.
std::string CheckDownload(const std::string& Path, const TFileHash& Expected, TArrivalHash* Arrived = nullptr);

}  // namespace kelvora::trust
