// A file name of the engine (UTF-8) as a path of the system.
#pragma once

#include <filesystem>
#include <string>

namespace kelvora::httpimpl {

inline std::filesystem::path Utf8Path(const std::string& Name) {
  return std::filesystem::path(std::u8string(Name.begin(), Name.end()));
}

}  // namespace kelvora::httpimpl
