// The language data files, compiled in as bytes (see LanguageEmbed.cmake).
#pragma once

#include <cstddef>

namespace kelvora::detail {

struct TLanguageDataFile {
  const char* Name;  // file name, for error messages
  const unsigned char* Data;
  std::size_t Size;
};

extern const TLanguageDataFile kLanguageDataFiles[];
extern const std::size_t kLanguageDataFileCount;

}  // namespace kelvora::detail
