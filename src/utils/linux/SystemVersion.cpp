#include <sys/utsname.h>

#include <cstdlib>

#include "kelvora/kvUtils.h"

namespace kelvora {

bool IsVersion6OrLater() {
  struct utsname u {};
  if (::uname(&u) != 0) return false;
  return std::atoi(u.release) > 5;
}

}  // namespace kelvora
