#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "support/TestFiles.h"

namespace kvtest {

std::string MakePrivateFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base ? base : "/tmp") + "/kvtest-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back(0);
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return buf.data();
}

std::string NativePath(const std::string& Path) { return Path; }

}  // namespace kvtest
