#include "http/net/HeaderLines.h"

#include <algorithm>
#include <cctype>

#include "http/net/NetTypes.h"

namespace kelvora::net {

namespace {

bool IsUnsafeInTarget(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' || c == '`' ||
         c == '{' || c == '|' || c == '}';
}

std::string HeaderName(const std::string& Line) {
  size_t colon = Line.find(':');
  std::string name = Line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
  return name;
}

}  // namespace

std::string Lower(std::string S) {
  for (auto& c : S) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return S;
}

std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : Text) {
    if (c == '\r' || c == '\n') {
      if (!cur.empty()) lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

std::string SchemeOf(const std::string& Url) {
  const size_t p = Url.find("://");
  return p == std::string::npos ? std::string() : Lower(Url.substr(0, p));
}

bool ContainsWord(const std::string& Text, const char* Word) {
  return Lower(Text).find(Lower(Word)) != std::string::npos;
}

std::string EscapeTarget(const std::string& Object) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  if (Object.empty() || Object[0] != '/') out += '/';
  for (unsigned char c : Object) {
    if (IsUnsafeInTarget(c)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool AddHeaderLines(std::vector<std::string>& Headers, const std::string& Text, uint32_t Modifiers) {
  std::vector<std::string> lines = SplitLines(Text);
  for (const auto& line : lines)
    if (line.find(':') == std::string::npos || HeaderName(line).empty()) return false;
  for (const auto& line : lines) {
    const std::string name = Lower(HeaderName(line));
    if (Modifiers & hmReplace) {
      std::string value = line.substr(line.find(':') + 1);
      const bool remove = value.find_first_not_of(" \t") == std::string::npos;
      auto it = std::find_if(Headers.begin(), Headers.end(), [&](const std::string& h) { return Lower(HeaderName(h)) == name; });
      if (it != Headers.end()) {
        if (remove)
          Headers.erase(it);
        else
          *it = line;
        continue;
      }
      if (remove) continue;
    }
    Headers.push_back(line);
  }
  return true;
}

}  // namespace kelvora::net
