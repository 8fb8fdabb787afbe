#include "kelvora/InfoFile.h"

#include <algorithm>
#include <unordered_map>

#include "utils/TextUtils.h"

namespace kelvora {

namespace {

std::string ValueAt(const std::string& Text, size_t start, bool Braced) {
  size_t end = start;
  if (Braced) {
    end = Text.find('}', start);
    if (end == std::string::npos) end = Text.size();
  } else {
    while (end < Text.size() && static_cast<unsigned char>(Text[end]) >= 32) ++end;
  }
  return Text.substr(start, end - start);
}

}  // namespace

std::string ReadInfoValue(const std::string& Text, const std::string& Key, bool Braced) {
  std::string pattern = utils::LowerCase(Key + "=");
  if (Braced) pattern += "{";
  const size_t at = utils::LowerCase(Text).find(pattern);
  if (at == std::string::npos) return {};
  return ValueAt(Text, at + pattern.size(), Braced);
}

void ReadFileList(const std::string& Text, TkvStringList& List, std::vector<std::string>* Suffixes) {
  List.Clear();
  if (Suffixes != nullptr) Suffixes->clear();
  // One pass finds the first "#url<digits>=" of every number, so that a text
  // with thousands of entries costs no more than reading it once.
  const std::string lower = utils::LowerCase(Text);
  std::unordered_map<std::string, size_t> firstValue;
  for (size_t at = lower.find("#url"); at != std::string::npos; at = lower.find("#url", at + 1)) {
    size_t d = at + 4;
    while (d < lower.size() && lower[d] >= '0' && lower[d] <= '9') ++d;
    if (d < lower.size() && lower[d] == '=') firstValue.emplace(lower.substr(at + 4, d - at - 4), d + 1);
  }
  auto value = [&](const std::string& number) {
    auto it = firstValue.find(number);
    return it == firstValue.end() ? std::string() : ValueAt(Text, it->second, false);
  };
  // The list may refuse a duplicate; only entries it took get a suffix.
  auto add = [&](const std::string& v, const std::string& number) {
    const int before = List.Count();
    List.Add(v);
    if (Suffixes != nullptr && List.Count() > before) Suffixes->push_back(number);
  };
  for (const char* number : {"", "0"}) {
    std::string v = value(number);
    if (!v.empty()) add(v, number);
  }
  // Numbering goes on from the entries read so far; a gap ends the list.
  for (int n = List.Count() + 1;; ++n) {
    std::string v = value(std::to_string(n));
    if (v.empty()) break;
    add(v, std::to_string(n));
  }
}

std::string UnreadFileKeys(const std::string& Text, const TkvStringList& List,
                           const std::vector<std::string>& Suffixes) {
  const std::string lower = utils::LowerCase(Text);
  for (size_t at = lower.find("#url"); at != std::string::npos; at = lower.find("#url", at + 1)) {
    size_t d = at + 4;
    while (d < lower.size() && lower[d] >= '0' && lower[d] <= '9') ++d;
    if (d >= lower.size() || lower[d] != '=') continue;
    const std::string number = lower.substr(at + 4, d - at - 4);
    const std::string value = ValueAt(Text, d + 1, false);
    if (value.empty() || std::find(Suffixes.begin(), Suffixes.end(), number) != Suffixes.end() ||
        List.IndexOf(value) >= 0)
      continue;
    return "the entry of \"#url" + number +
           "\" is not read (after \"#url\" and \"#url0\" the numbers go on from the next one, and a gap ends the "
           "list): every listed file must be installed";
  }
  return {};
}

int ReadUpgradeMethod(const std::string& Text) {
  const std::string m = ReadInfoValue(Text, "#method");
  if (!m.empty() && m[0] == '1') return 1;
  if (!m.empty() && m[0] == '2') return 2;
  return 0;
}

}  // namespace kelvora
