// The request worker's byte ranges: the range header of a request, the
// check of a partial answer, and the size probe after a refused resume.
#include "http/RequestWorker.h"

#include <strings.h>

#include <charconv>

#include "http/HeaderValues.h"

namespace kelvora::httpimpl {

namespace {

using namespace net;

std::string RangeLine(int64_t From, int64_t To) {
  std::string line = "RANGE: bytes=" + std::to_string(From) + "-";
  if (To != 0) line += std::to_string(To);
  return line + "\r\n";
}

// "bytes first-last/total" of a Content-Range; Total is -1 for "*".
bool ParseContentRange(const std::string& Value, int64_t& First, int64_t& Last, int64_t& Total) {
  const size_t b = Value.find_first_not_of(" \t");
  if (b == std::string::npos || strncasecmp(Value.c_str() + b, "bytes ", 6) != 0) return false;
  const char* p = Value.c_str() + b + 6;
  const char* end = Value.c_str() + Value.size();
  while (p < end && *p == ' ') ++p;
  auto number = [&](int64_t& Out) {
    auto [q, ec] = std::from_chars(p, end, Out);
    if (ec != std::errc() || q == p || Out < 0) return false;
    p = q;
    return true;
  };
  if (!number(First) || p >= end || *p++ != '-' || !number(Last) || p >= end || *p++ != '/') return false;
  if (p < end && *p == '*') {
    Total = -1;
    ++p;
  } else if (!number(Total)) {
    return false;
  }
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  return p == end && First <= Last && (Total < 0 || Last < Total);
}

}  // namespace

// A 206 must hold exactly the range asked for: the resume range, else the
// Range setting. Its Content-Range must start there, end where asked (or at
// the last byte when asked to the end) and agree with Content-Length. To a
// request without a range only the whole resource fits.
std::pair<int64_t, int64_t> TRequestWorker::RangeAsked() const {
  if (t_.ResumePosition != 0 || t_.ResumeEnd != 0) return {t_.ResumePosition, t_.ResumeEnd};
  if (s_.RangeStart != 0 || s_.RangeEnd != 0) return {s_.RangeStart, s_.RangeEnd};
  return {0, 0};
}

bool TRequestWorker::RangeAnswerFits() {
  if (t_.StatusCode != 206) return true;
  const bool asked = t_.ResumePosition != 0 || t_.ResumeEnd != 0 || s_.RangeStart != 0 || s_.RangeEnd != 0;
  const auto [from, to] = RangeAsked();
  std::string v;
  int64_t first = 0, last = 0, total = 0;
  if (!QueryText(qiContentRange, v) || !ParseContentRange(v, first, last, total)) return false;
  if (first != from || (!asked && total < 0)) return false;
  const bool toEnd = to == 0 || (total >= 0 && to >= total);
  if (toEnd ? (total >= 0 && last != total - 1) : last != to) return false;
  std::string length;
  if (QueryText(qiContentLength, length) && ToNumber(length) != last - first + 1) return false;
  return true;
}

int64_t TRequestWorker::SizeProbe() {
  if (!AddRangeHeaders(hmReplace, 0, 0, true)) return 0;
  Check();
  TNetRequest& req = *t_.Request;
  if (!req.Send("", nullptr, 0)) return 0;
  int64_t full = 0;
  std::string v;
  if (QueryText(qiStatusCode, v)) {
    t_.StatusCode = static_cast<int32_t>(ToNumber(v));
    if ((t_.StatusCode == 200 || t_.StatusCode == 206) && QueryText(qiContentLength, v)) full = ToNumber(v);
  }
  Check();
  return full;
}

// The request headers with the range: the resume range when one is given,
// else the Range setting (Forced: the range From-To).
bool TRequestWorker::AddRangeHeaders(uint32_t Modifiers, int64_t From, int64_t To, bool Forced) {
  std::string text;
  for (const auto& line : s_.RequestHeaders) text += line + "\r\n";
  if (!Forced) {
    const auto [from, to] = RangeAsked();
    t_.RangeRequested = from != 0 || to != 0;
  }
  if (Forced)
    text += RangeLine(From, To);
  else if (t_.ResumePosition != 0 || t_.ResumeEnd != 0)
    text += RangeLine(t_.ResumePosition, t_.ResumeEnd);
  else if (s_.RangeStart != 0 || s_.RangeEnd != 0)
    text += RangeLine(s_.RangeStart, s_.RangeEnd);
  if (text.empty()) return true;
  return t_.Request->AddHeaders(text, Modifiers);
}

}  // namespace kelvora::httpimpl
