#include "LoginUndo.h"

#include <cstdio>

namespace kelvora::updater {

namespace {

// FNV-1a: stable across builds and systems, so a later updater finds the
// entry an earlier one made.
std::uint64_t PathHash(const std::string& Text) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const unsigned char c : Text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

}  // namespace

std::string UndoEntryName(const std::string& StateFolder) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(PathHash(StateFolder)));
  return std::string("kelvora-undo-") + hex;
}

}  // namespace kelvora::updater
