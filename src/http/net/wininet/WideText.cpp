#include "http/net/wininet/WideText.h"

#include <windows.h>

namespace kelvora::net {

std::wstring Widen(const std::string& Text) {
  if (Text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* Text, size_t Length) {
  if (Length == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, Text, static_cast<int>(Length), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace kelvora::net
