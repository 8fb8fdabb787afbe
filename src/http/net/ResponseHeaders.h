// The header block of one response as the server sent it: status line,
// header lines, and queries by info level.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvora::net {

class TResponseHeaders {
 public:
  void Clear();
  // Feeds one line as received (CR LF or LF at its end is ignored). A line
  // starting with "HTTP/" begins a new block. Returns true when the line is
  // the blank line that ends the block.
  bool AddLine(const char* Line, size_t Length);

  bool HasStatus() const { return status_ > 0; }
  int Status() const { return status_; }
  const std::string& StatusLine() const { return statusLine_; }
  bool Complete() const { return complete_; }

  // The first header named Name (case-insensitive), or false.
  bool Find(const std::string& Name, std::string& Value) const;
  // Every header named Name, joined by ", " (empty when there is none).
  std::string JoinAll(const std::string& Name) const;
  // Value of an info level (NetTypes.h); false when the response has none.
  bool Query(uint32_t Level, std::string& Value) const;
  // Status line and header lines, each ended by CR LF, then an empty line.
  std::string RawCRLF() const;

 private:
  std::string statusLine_;
  int status_ = 0;
  bool complete_ = false;
  std::vector<std::pair<std::string, std::string>> fields_;
};

// Name of the header of an info level, or nullptr for levels that are not a
// single header.
const char* HeaderNameOfLevel(uint32_t Level);

}  // namespace kelvora::net
