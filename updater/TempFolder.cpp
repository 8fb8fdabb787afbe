#include "TempFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace kelvora::updater {

namespace {

bool IsPrivateFolder(const std::string& Path) {
  struct stat st {};
  if (Path.empty() || ::lstat(Path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700;
}

}  // namespace

std::string PrivateTempFolder() {
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(var);
    if (value == nullptr || value[0] != '/') continue;
    std::string v(value);
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    if (IsPrivateFolder(v)) return v;
  }
  const std::string own = "/tmp/kelvora-" + std::to_string(::geteuid());
  return IsPrivateFolder(own) ? own : std::string();
}

}  // namespace kelvora::updater
