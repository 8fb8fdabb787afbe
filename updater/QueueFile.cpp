#include "QueueFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace kelvora::updater {

std::string ReadQueueText(const std::string& Path) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::string();
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      text.clear();  // a file read halfway counts as unreadable
      break;
    }
  }
  ::close(fd);
  return text;
}

std::vector<std::string> QueueLines(const std::string& Text) {
  std::vector<std::string> lines;
  if (Text.empty()) return lines;
  size_t start = 0;
  for (;;) {
    const size_t end = Text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(Text.substr(start));
      return lines;
    }
    lines.push_back(Text.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace kelvora::updater
