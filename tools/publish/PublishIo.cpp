#include "PublishIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "kelvora/trust/Crypto.h"

namespace publish {

namespace {

std::string Why(const std::string& Path) { return Path + ": " + std::strerror(errno); }

void WriteAll(int Fd, const std::string& Path, const std::string& Data) {
  size_t done = 0;
  while (done < Data.size()) {
    const ssize_t n = ::write(Fd, Data.data() + done, Data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure(Why(Path));
    done += static_cast<size_t>(n);
  }
}

constexpr int64_t kProgressFrom = 16 * 1024 * 1024;

// Every file this run has read (key, description, info file, listed files),
// by identity, so that no output lands on one of them under any name.
std::set<std::pair<dev_t, ino_t>>& Inputs() {
  static std::set<std::pair<dev_t, ino_t>> inputs;
  return inputs;
}

// Every file this run has written, so that no output replaces another.
std::set<std::pair<dev_t, ino_t>>& Outputs() {
  static std::set<std::pair<dev_t, ino_t>> outputs;
  return outputs;
}

void NoteInput(int Fd) {
  struct stat st {};
  if (::fstat(Fd, &st) == 0) Inputs().emplace(st.st_dev, st.st_ino);
}

}  // namespace

std::string ReadFile(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(Why(Path));
  NoteInput(fd);
  std::string out;
  char buf[64 * 1024];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  const int err = errno;
  ::close(fd);
  errno = err;
  if (n < 0) throw Failure(Why(Path));
  return out;
}

void WriteFileAtomically(const std::string& Path, const std::string& Data, const std::string& InPlace) {
  struct stat out {}, own {};
  if (::stat(Path.c_str(), &out) == 0 && Inputs().count({out.st_dev, out.st_ino}) != 0 &&
      !(!InPlace.empty() && ::stat(InPlace.c_str(), &own) == 0 && own.st_dev == out.st_dev &&
        own.st_ino == out.st_ino))
    throw Failure(Path + ": is a file this command reads (the key, the description, a listed file or an older "
                  "release); nothing was written, give another output");
  if (::stat(Path.c_str(), &out) == 0 && Outputs().count({out.st_dev, out.st_ino}) != 0)
    throw Failure(Path + ": is a file this command has just written (a patch); give another output");
  const std::string temp = Path + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) throw Failure(Why(temp));
  try {
    WriteAll(fd, temp, Data);
    if (::fsync(fd) != 0) throw Failure(Why(temp));
  } catch (...) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw;
  }
  ::close(fd);
  if (::rename(temp.c_str(), Path.c_str()) != 0) {
    const Failure f(Why(Path));
    ::unlink(temp.c_str());
    throw f;
  }
  if (::stat(Path.c_str(), &out) == 0) Outputs().emplace(out.st_dev, out.st_ino);
}

void WriteNewPrivateFile(const std::string& Path, const std::string& Data) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw Failure(errno == EEXIST ? Path + ": exists already; a key is never overwritten" : Why(Path));
  try {
    WriteAll(fd, Path, Data);
    if (::fsync(fd) != 0) throw Failure(Why(Path));
  } catch (...) {
    ::close(fd);
    ::unlink(Path.c_str());
    throw;
  }
  ::close(fd);
}

int LineOf(std::string_view Text, size_t Offset) {
  int line = 1;
  for (size_t i = 0; i < Offset && i < Text.size(); ++i) line += Text[i] == '\n';
  return line;
}

kelvora::trust::TFileHash HashFile(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(Why(Path));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw Failure(Path + ": not a regular file");
  }
  NoteInput(fd);
  // A progress line only where someone watches it.
  const bool progress = st.st_size >= kProgressFrom && ::isatty(2);
  kelvora::trust::TSha256 hash;
  int64_t total = 0;
  int shown = -1;
  static char buf[1024 * 1024];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) {
    hash.Update(buf, static_cast<size_t>(n));
    total += n;
    const int percent = static_cast<int>(total * 100 / (st.st_size > 0 ? st.st_size : 1));
    if (progress && percent != shown) {
      std::fprintf(stderr, "\rhashing %s: %3d%%", Path.c_str(), percent);
      shown = percent;
    }
  }
  const int err = errno;
  ::close(fd);
  if (progress) std::fprintf(stderr, "\n");
  errno = err;
  if (n < 0) throw Failure(Why(Path));
  return {hash.HexDigest(), total};
}

}  // namespace publish
