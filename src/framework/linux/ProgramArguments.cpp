#include "framework/ProgramArguments.h"

#include <fstream>
#include <iterator>

namespace kelvora::sys {

std::vector<std::string> ProgramArguments() {
  // NUL-separated arguments of this process.
  std::ifstream f("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

}  // namespace kelvora::sys
