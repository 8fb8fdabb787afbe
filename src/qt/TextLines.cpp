#include "qt/TextLines.h"

namespace kelvora::qtdetail {

QString DisplayText(const std::string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '\r') {
      out += Text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
  }
  return QString::fromUtf8(out.data(), static_cast<qsizetype>(out.size()));
}

}  // namespace kelvora::qtdetail
