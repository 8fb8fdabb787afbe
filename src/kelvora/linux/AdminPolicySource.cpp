// The administrator's policy on Linux: <folder>/<Product>.json, where the
// folder is /etc/kelvora. Only a file an administrator could have written
// counts: a regular file owned by root (or by the user running the program),
// writable by nobody else.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "kelvora/AdminPolicy.h"
#include "kelvora/DeveloperLog.h"

namespace kelvora {

namespace {

constexpr off_t kMaxPolicySize = 64 * 1024;

// A product name that is a plain file name: no folders, no hidden files.
bool PlainName(const std::string& Name) {
  return !Name.empty() && Name.size() <= 200 && Name.front() != '.' && Name.find('/') == std::string::npos &&
         Name.find('\0') == std::string::npos;
}

}  // namespace

std::string AdminPolicyFolder() {
  const char* folder = std::getenv("KELVORA_POLICY_DIR");
  return folder != nullptr && *folder != '\0' ? folder : "/etc/kelvora";
}

TAdminPolicy ReadAdminPolicy(const std::string& /*Company*/, const std::string& Product) {
  TAdminPolicy policy;
  if (!PlainName(Product)) {
    if (!Product.empty()) DeveloperNote("no administrator policy is read for the product name \"" + Product + "\"");
    return policy;
  }
  const std::string path = AdminPolicyFolder() + "/" + Product + ".json";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR)
      DeveloperNote("administrator policy " + path + " cannot be read (" + std::strerror(errno) + ") and is ignored");
    return policy;
  }
  struct stat st {};
  std::string text;
  const char* refusal = nullptr;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    refusal = "not a regular file";
  else if (st.st_uid != 0 && st.st_uid != ::geteuid())
    refusal = "owned by another user";
  else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    refusal = "writable by other users";
  else if (st.st_size > kMaxPolicySize)
    refusal = "larger than 64 KiB";
  if (refusal == nullptr) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (got != text.size()) refusal = "cut short while read";
  }
  ::close(fd);
  if (refusal != nullptr) {
    DeveloperNote("administrator policy " + path + " is ignored: " + refusal);
    return policy;
  }
  ParseAdminPolicyJson(text, path, policy);
  return policy;
}

}  // namespace kelvora
