// Under Wine the drive "Z:" maps this system's root: test folders live
// there, so that the servers the process host starts see the same files.
#include <windows.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

#include "support/TestFiles.h"

namespace kvtest {

std::string MakePrivateFolder() {
  const char* base = std::getenv("TMPDIR");
  const std::string root = std::string("Z:") + (base != nullptr && *base == '/' ? base : "/tmp");
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = root + "/kvtest-" + std::to_string(rd() % 100000000u);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot create a folder under " + root);
}

std::string NativePath(const std::string& Path) {
  if (Path.size() < 3 || (Path[0] != 'Z' && Path[0] != 'z') || Path[1] != ':' || (Path[2] != '/' && Path[2] != '\\'))
    return Path;
  std::string p = Path.substr(2);
  for (auto& c : p)
    if (c == '\\') c = '/';
  return p;
}

}  // namespace kvtest
