// The bodies of the kvUtils fuzz targets, shared by the libFuzzer entry
// points (fuzz_*.cpp) and the regression test that replays the saved inputs
// (tests/utils/FuzzRegressionTest.cpp). Each body feeds one input to the
// routines under test and traps when a property that must hold does not.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "kelvora/kvUtils.h"

namespace kvfuzz {

#define KV_FUZZ_CHECK(cond) \
  do {                      \
    if (!(cond)) __builtin_trap(); \
  } while (0)

inline std::string Text(const uint8_t* Data, size_t Size) {
  return std::string(reinterpret_cast<const char*>(Data), Size);
}

// ParseInternetDate and ParseGmtOffset: never raise, always a finite value,
// an offset of at most a day.
inline void InternetDate(const uint8_t* Data, size_t Size) {
  const std::string s = Text(Data, Size);
  const double t = kelvora::ParseInternetDate(s);
  KV_FUZZ_CHECK(std::isfinite(t));
  const double o = kelvora::ParseGmtOffset(s);
  KV_FUZZ_CHECK(std::isfinite(o) && o > -1.0 && o < 1.0);
}

// SplitCommandLine: never raises, never makes the text longer, both parts
// trimmed; the parameter text given in is replaced unless the command is
// blank.
inline void CommandLine(const uint8_t* Data, size_t Size) {
  std::string cmd = Text(Data, Size), params = "<unchanged>";
  const size_t before = cmd.size();
  kelvora::SplitCommandLine(cmd, params);
  KV_FUZZ_CHECK(cmd.size() <= before);
  if (params != "<unchanged>") KV_FUZZ_CHECK(cmd.size() + params.size() <= before);
  auto trimmed = [](const std::string& v) {
    return v.empty() || (static_cast<unsigned char>(v.front()) > ' ' && static_cast<unsigned char>(v.back()) > ' ');
  };
  KV_FUZZ_CHECK(trimmed(cmd));
  if (params != "<unchanged>") KV_FUZZ_CHECK(trimmed(params));
}

// CompareVersions: the input is two versions separated by the first newline.
// The comparison is reflexive and antisymmetric, and agrees with itself.
inline void Versions(const uint8_t* Data, size_t Size) {
  const std::string s = Text(Data, Size);
  const size_t nl = s.find('\n');
  const std::string a = s.substr(0, nl);
  const std::string b = nl == std::string::npos ? std::string() : s.substr(nl + 1);
  const int ab = kelvora::CompareVersions(a, b);
  const int ba = kelvora::CompareVersions(b, a);
  KV_FUZZ_CHECK(ab >= -1 && ab <= 1);
  KV_FUZZ_CHECK(ab == -ba);
  KV_FUZZ_CHECK(kelvora::CompareVersions(a, a) == 0);
  const auto parts = kelvora::SplitVersion(a);
  KV_FUZZ_CHECK(parts.size() == 4);
}

// ExpandFolderMacros: the first byte chooses PrefixRelative. No macro of the
// table survives in text that had no percent sign to begin with, and a text
// without any "%" comes back unchanged (apart from the prefix).
inline void FolderMacros(const uint8_t* Data, size_t Size) {
  if (Size == 0) return;
  const bool prefix = Data[0] & 1;
  const std::string path = Text(Data + 1, Size - 1);
  const std::string out = kelvora::ExpandFolderMacros(path, prefix);
  if (path.find('%') == std::string::npos) {
    if (prefix && path.size() >= 3 && path[0] != '/')
      KV_FUZZ_CHECK(out == kelvora::CurrentFolder() + path);
    else
      KV_FUZZ_CHECK(out == path);
  }
}

// The string list's name/value split: the first byte chooses the separator
// ("=", "->", "" or a byte of the input) and the side it is found from; the
// rest is the list's text. Name, separator and value put together give the
// line back; SetValue keeps the name.
inline void NameValue(const uint8_t* Data, size_t Size) {
  if (Size == 0) return;
  kelvora::TkvStringList list;
  const uint8_t mode = Data[0];
  std::string sep;
  switch (mode & 3) {
    case 0: sep = "="; break;
    case 1: sep = "->"; break;
    case 2: sep = ""; break;
    default: sep = Size > 1 ? std::string(1, static_cast<char>(Data[1])) : "="; break;
  }
  list.SetSeparator(sep);
  list.SetSeparatorFromEnd(mode & 4);
  list.SetDuplicates(kelvora::TDuplicates::dupAccept);
  if (mode & 8) list.SetMaxCount(3);
  list.SetText(Text(Data + 1, Size - 1));
  for (int i = 0; i < list.Count(); ++i) {
    const std::string line = list[i];
    const int pos = list.SeparatorPos(i);
    KV_FUZZ_CHECK(pos >= 0 && static_cast<size_t>(pos) <= line.size());
    const std::string name = list.GetName(i), value = list.GetValue(i);
    if (pos == 0) {
      KV_FUZZ_CHECK(name == line && value.empty());
    } else {
      KV_FUZZ_CHECK(name + sep + value == line);
      list.SetValue(i, "v");
      KV_FUZZ_CHECK(list.GetName(i) == name || list.SeparatorFromEnd());
    }
  }
  if (mode & 8) KV_FUZZ_CHECK(list.Count() <= 3);
}

}  // namespace kvfuzz
