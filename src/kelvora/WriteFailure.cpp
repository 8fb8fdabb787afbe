#include "kelvora/WriteFailure.h"

#include <cerrno>

#include "kelvora/kvLanguage.h"

namespace kelvora {

bool NotAllowedToWrite(int Error) { return Error == EACCES || Error == EPERM || Error == EROFS; }

std::string CannotWriteText(const std::string& Path, int Error) {
  if (NotAllowedToWrite(Error)) return FormatLangText(ltNotAllowedToWrite, {Path});
  switch (Error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FormatLangText(ltDiskFull, {Path});
    default: return FormatLangText(ltCannotWrite, {Path});
  }
}

}  // namespace kelvora
