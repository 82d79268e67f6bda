#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/reader_checks.h"
#include "tests/support/test_support.h"

namespace {

std::vector<std::filesystem::path> KeptInputs() {
  std::vector<std::filesystem::path> inputs;
  for (const char* folder : {"fuzz/seeds", "fuzz/regressions"}) {
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(testsupport::SourcePath(folder), error)) {
      if (entry.is_regular_file() && entry.path().extension() != ".md") {
        inputs.push_back(entry.path());
      }
    }
  }
  return inputs;
}

TEST(FuzzInputs, EveryKeptInputPassesTheReaderChecks) {
  const auto inputs = KeptInputs();
  ASSERT_FALSE(inputs.empty());
  for (const auto& path : inputs) {
    SCOPED_TRACE(path.string());
    const auto bytes = testsupport::ReadFileBytes(path.string());
    EXPECT_EQ(readerchecks::CheckReaderOn(bytes.data(), bytes.size()), "");
  }
}

// A short, repeatable fuzz run without the fuzzer: byte flips, cuts, insertions of the magic
// and copies of stretches of the seeds, each checked the same way.
TEST(FuzzInputs, MutatedSeedsPassTheReaderChecks) {
  const auto inputs = KeptInputs();
  ASSERT_FALSE(inputs.empty());
  std::mt19937 random(20260314);
  const uint8_t magic[4] = {0x55, 0xAA, 0x15, 0xA8};
  int failures = 0;
  for (int round = 0; round < 3000 && failures < 5; ++round) {
    std::vector<uint8_t> bytes =
        testsupport::ReadFileBytes(inputs[random() % inputs.size()].string());
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const size_t at = random() % bytes.size();
      switch (random() % 5) {
        case 0:
          bytes[at] = static_cast<uint8_t>(random());
          break;
        case 1:
          bytes.resize(at);
          break;
        case 2:
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), magic, magic + 4);
          break;
        case 3: {
          const size_t from = random() % bytes.size();
          const size_t length = std::min<size_t>(random() % 64, bytes.size() - from);
          std::vector<uint8_t> stretch(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                       bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
          bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), stretch.begin(),
                       stretch.end());
          break;
        }
        default:
          bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
      }
    }
    const std::string failure = readerchecks::CheckReaderOn(bytes.data(), bytes.size());
    if (!failure.empty()) {
      ++failures;
      ADD_FAILURE() << "round " << round << ": " << failure;
    }
  }
}

}  // namespace
