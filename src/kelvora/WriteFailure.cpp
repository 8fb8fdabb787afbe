#include "kelvora/WriteFailure.h"

#include <cerrno>

#include "kelvora/kvLanguage.h"

namespace kelvora {

std::string CannotWriteText(const std::string& Path, int Error) {
  switch (Error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FormatLangText(ltDiskFull, {Path});
    case EACCES:
    case EPERM:
    case EROFS: return FormatLangText(ltNotAllowedToWrite, {Path});
    default: return FormatLangText(ltCannotWrite, {Path});
  }
}

}  // namespace kelvora
