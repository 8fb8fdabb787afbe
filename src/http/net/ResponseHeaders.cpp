#include "http/net/ResponseHeaders.h"

#include <strings.h>

#include "http/net/NetTypes.h"

namespace kelvora::net {

namespace {

std::string Trim(const std::string& S) {
  size_t b = S.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  size_t e = S.find_last_not_of(" \t");
  return S.substr(b, e - b + 1);
}

}  // namespace

const char* HeaderNameOfLevel(uint32_t Level) {
  switch (Level) {
    case qiContentType: return "Content-Type";
    case qiContentLength: return "Content-Length";
    case qiContentLanguage: return "Content-Language";
    case qiDate: return "Date";
    case qiExpires: return "Expires";
    case qiLastModified: return "Last-Modified";
    case qiConnection: return "Connection";
    case qiContentEncoding: return "Content-Encoding";
    case qiLocation: return "Location";
    case qiWWWAuthenticate: return "WWW-Authenticate";
    case qiProxyAuthenticate: return "Proxy-Authenticate";
    case qiContentRange: return "Content-Range";
    case qiETag: return "ETag";
    default: return nullptr;
  }
}

void TResponseHeaders::Clear() {
  statusLine_.clear();
  status_ = 0;
  complete_ = false;
  fields_.clear();
}

bool TResponseHeaders::AddLine(const char* Line, size_t Length) {
  std::string s(Line, Length);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  if (s.compare(0, 5, "HTTP/") == 0) {
    Clear();
    statusLine_ = s;
    // "HTTP/1.1 200 OK": the status is the second word, three digits.
    size_t sp = s.find(' ');
    int code = 0;
    if (sp != std::string::npos && sp + 4 <= s.size()) {
      for (size_t i = sp + 1; i < sp + 4; ++i) {
        if (s[i] < '0' || s[i] > '9') {
          code = 0;
          break;
        }
        code = code * 10 + (s[i] - '0');
      }
    }
    status_ = code;
    return false;
  }
  if (s.empty()) {
    complete_ = !statusLine_.empty();
    return complete_;
  }
  if ((s[0] == ' ' || s[0] == '\t') && !fields_.empty()) {
    // Folded continuation of the previous line.
    fields_.back().second += ' ' + Trim(s);
    return false;
  }
  size_t colon = s.find(':');
  if (colon == std::string::npos) return false;
  fields_.emplace_back(Trim(s.substr(0, colon)), Trim(s.substr(colon + 1)));
  return false;
}

bool TResponseHeaders::Find(const std::string& Name, std::string& Value) const {
  for (const auto& f : fields_)
    if (strcasecmp(f.first.c_str(), Name.c_str()) == 0) {
      Value = f.second;
      return true;
    }
  return false;
}

std::string TResponseHeaders::JoinAll(const std::string& Name) const {
  std::string out;
  for (const auto& f : fields_)
    if (strcasecmp(f.first.c_str(), Name.c_str()) == 0) {
      if (!out.empty()) out += ", ";
      out += f.second;
    }
  return out;
}

bool TResponseHeaders::Query(uint32_t Level, std::string& Value) const {
  if (statusLine_.empty()) return false;
  switch (Level) {
    case qiStatusCode:
      if (status_ <= 0) return false;
      Value = std::to_string(status_);
      return true;
    case qiStatusText: {
      size_t sp = statusLine_.find(' ');
      sp = sp == std::string::npos ? sp : statusLine_.find(' ', sp + 1);
      Value = sp == std::string::npos ? std::string() : statusLine_.substr(sp + 1);
      return true;
    }
    case qiRawHeadersCRLF:
      Value = RawCRLF();
      return true;
    default: {
      const char* name = HeaderNameOfLevel(Level);
      return name != nullptr && Find(name, Value);
    }
  }
}

std::string TResponseHeaders::RawCRLF() const {
  std::string out = statusLine_ + "\r\n";
  for (const auto& f : fields_) out += f.first + ": " + f.second + "\r\n";
  out += "\r\n";
  return out;
}

}  // namespace kelvora::net
