// Makes the patch from one build of a program to the next, as the publisher
// does on Linux, for the upgrade round with a patch under Wine.
// Usage: kv_win_make_patch <old file> <new file> <patch file>
#include <cstdio>
#include <exception>
#include <fstream>

#include "kelvora/delta/ZstdPatch.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kv_win_make_patch <old file> <new file> <patch file>\n");
    return 2;
  }
  try {
    const std::string patch = kelvora::delta::CreateZstdPatch(argv[1], argv[2], 3);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(patch.data(), static_cast<std::streamsize>(patch.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "%s: cannot be written\n", argv[3]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
