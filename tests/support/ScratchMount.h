// A tmpfs mounted over a test's folder (a small disk to fill, a temporary
// folder that runs nothing), unmounted when it goes. Mounting needs root:
// Mounted() says whether it took, so that the test can skip.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace kvtest {

class TScratchMount {
 public:
  TScratchMount(std::string Folder, const std::string& Options, unsigned long Flags = 0)
      : folder_(std::move(Folder)),
        mounted_(::geteuid() == 0 && ::mount("tmpfs", folder_.c_str(), "tmpfs", Flags, Options.c_str()) == 0) {}
  ~TScratchMount() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  TScratchMount(const TScratchMount&) = delete;
  TScratchMount& operator=(const TScratchMount&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_;
};

}  // namespace kvtest
