// Replays every saved input of the kvUtils fuzz targets (the seeds and any
// input that once failed, fuzz/utils/corpus/<target>/) through the targets'
// bodies, so that an old failure stays fixed in the ordinary build too.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "FuzzTargets.h"

namespace {

using Body = void (*)(const uint8_t*, size_t);

int Replay(const std::string& Target, Body Run) {
  const std::filesystem::path dir = std::filesystem::path(KV_FUZZ_CORPUS_DIR) / Target;
  int n = 0;
  if (!std::filesystem::is_directory(dir)) return 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(entry.path().string());
    Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++n;
  }
  return n;
}

}  // namespace

TEST(FuzzRegression, InternetDate) { EXPECT_GT(Replay("internet_date", kvfuzz::InternetDate), 0); }
TEST(FuzzRegression, CommandLine) { EXPECT_GT(Replay("command_line", kvfuzz::CommandLine), 0); }
TEST(FuzzRegression, Versions) { EXPECT_GT(Replay("versions", kvfuzz::Versions), 0); }
TEST(FuzzRegression, FolderMacros) { EXPECT_GT(Replay("folder_macros", kvfuzz::FolderMacros), 0); }
TEST(FuzzRegression, NameValue) { EXPECT_GT(Replay("name_value", kvfuzz::NameValue), 0); }
