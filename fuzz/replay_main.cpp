// Replays a fuzz target's kept corpus as an ordinary test: every input that once
// ran clean must keep running clean.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(FuzzCorpus, ReplaysEveryKeptInput) {
  namespace fs = std::filesystem;
  const fs::path dir = TGX_CORPUS_DIR;
  ASSERT_TRUE(fs::is_directory(dir)) << "no corpus at " << dir;
  std::size_t inputs = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(0, LLVMFuzzerTestOneInput(bytes.data(), bytes.size()));
    ++inputs;
  }
  EXPECT_GT(inputs, 0u) << "empty corpus at " << dir;
}
