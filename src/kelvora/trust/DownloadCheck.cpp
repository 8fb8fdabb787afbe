#include "kelvora/trust/DownloadCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kelvora/trust/Crypto.h"

namespace kelvora::trust {

std::string CheckDownload(const std::string& Path, const TFileHash& Expected) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Path + ": cannot be read for its check";
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size != Expected.Size) {
    ::close(fd);
    return Path + ": " + std::to_string(st.st_size) + " bytes instead of " + std::to_string(Expected.Size);
  }
  TSha256 hash;
  char buf[64 * 1024];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) hash.Update(buf, static_cast<size_t>(n));
  ::close(fd);
  if (n < 0) return Path + ": cannot be read for its check";
  if (hash.HexDigest() != Expected.Sha256) return Path + ": SHA-256 does not match the info file";
  return {};
}

}  // namespace kelvora::trust
