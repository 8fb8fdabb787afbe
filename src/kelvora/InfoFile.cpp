#include "kelvora/InfoFile.h"

#include "kelvora/ReleaseInfo.h"
#include "utils/TextUtils.h"

namespace kelvora {

std::string ReadValueAt(std::string_view Text, size_t Start, bool Braced) {
  size_t end = Start;
  if (Braced) {
    end = Text.find('}', Start);
    if (end == std::string_view::npos) end = Text.size();
  } else {
    while (end < Text.size() && static_cast<unsigned char>(Text[end]) >= 32) ++end;
  }
  return std::string(Text.substr(Start, end - Start));
}

std::string ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced) {
  std::string pattern = utils::LowerCase(Key + "=");
  if (Braced) pattern += "{";
  const size_t at = utils::LowerCase(Text).find(pattern);
  if (at == std::string::npos) return {};
  return ReadValueAt(Text, at + pattern.size(), Braced);
}

void ReadFileList(const std::string& Text, TkvStringList& List, std::vector<std::string>* Suffixes) {
  FillFileList(ParseReleaseInfo(Text), List, Suffixes);
}

int ReadUpgradeMethod(const std::string& Text) { return ParseReleaseInfo(Text).Method; }

}  // namespace kelvora
