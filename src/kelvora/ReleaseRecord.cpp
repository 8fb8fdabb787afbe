#include "kelvora/ReleaseRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "kelvora/StateFolder.h"

namespace kelvora {

namespace {

constexpr const char* kMagic = "kelvora-release 1";
constexpr size_t kMaxRecordSize = 64 * 1024;

// Splits Text at '\n' into exactly Count lines (a last '\n' ends the final one).
bool SplitLines(const std::string& Text, size_t Count, std::string* Lines) {
  size_t start = 0;
  for (size_t i = 0; i < Count; ++i) {
    const size_t end = Text.find('\n', start);
    if (end == std::string::npos) return false;
    Lines[i] = Text.substr(start, end - start);
    start = end + 1;
  }
  return start == Text.size();
}

bool WriteAll(int Fd, const std::string& Data) {
  size_t done = 0;
  while (done < Data.size()) {
    const ssize_t n = ::write(Fd, Data.data() + done, Data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<TReleaseRecord> ReadReleaseRecord(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || text.size() + static_cast<size_t>(n) > kMaxRecordSize) break;
      text.append(buf, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  std::string lines[4];
  if (!SplitLines(text, 4, lines) || lines[0] != kMagic) return std::nullopt;
  if (lines[1] != "pending" && lines[1] != "confirmed") return std::nullopt;
  return TReleaseRecord{lines[2], lines[3], lines[1] == "confirmed"};
}

bool WriteReleaseRecord(const std::string& Path, const TReleaseRecord& Record) {
  // A line break inside a value would change the record's meaning.
  if (Record.InfoURL.find('\n') != std::string::npos || Record.Release.find('\n') != std::string::npos) return false;
  const size_t slash = Path.rfind('/');
  if (slash != std::string::npos) ::mkdir(Path.substr(0, slash).c_str(), 0700);  // fails harmlessly when present
  const std::string text = std::string(kMagic) + "\n" + (Record.Confirmed ? "confirmed" : "pending") + "\n" +
                           Record.InfoURL + "\n" + Record.Release + "\n";
  const std::string part = Path + ".part";
  ::unlink(part.c_str());
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(part.c_str(), Path.c_str()) != 0) {
    ::unlink(part.c_str());
    return false;
  }
  return true;
}

std::string ReleaseRecordPath() { return StateFolder() + "installed-release"; }

}  // namespace kelvora
