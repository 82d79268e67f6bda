#include "record/prepare_directories.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Runs a test body with the current directory inside a fresh temporary directory.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    old = fs::current_path();
    fs::current_path(dir.Path());
  }
  void TearDown() override { fs::current_path(old); }
  testsupport::TempDir dir;
  fs::path old;
};

TEST_F(InTempDir, CreatesEveryMissingDirectoryButNeverTheFile) {
  const std::string path = dir.Path() + "/a/b/c/shot.jpg";
  EXPECT_EQ(PrepareDirectories(path), 1);
  EXPECT_TRUE(fs::is_directory(dir.Path() + "/a/b/c"));
  EXPECT_FALSE(fs::exists(path));
  // A second call leaves the file system as the first left it.
  EXPECT_EQ(PrepareDirectories(path), 1);
  EXPECT_TRUE(fs::is_directory(dir.Path() + "/a/b/c"));
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(InTempDir, HandlesRelativeBareTrailingAndDoubledSeparators) {
  PrepareDirectories("rel/sub/file.avi");
  EXPECT_TRUE(fs::is_directory("rel/sub"));
  EXPECT_FALSE(fs::exists("rel/sub/file.avi"));

  PrepareDirectories("bare.jpg");
  EXPECT_FALSE(fs::exists("bare.jpg"));

  PrepareDirectories("trail/last/");
  EXPECT_TRUE(fs::is_directory("trail/last"));

  PrepareDirectories("dbl//inner//x.jpg");
  EXPECT_TRUE(fs::is_directory("dbl/inner"));
  EXPECT_FALSE(fs::exists("dbl/inner/x.jpg"));
}

TEST_F(InTempDir, ABackslashIsPartOfANameNotASeparator) {
  PrepareDirectories("one\\two/file.jpg");
  EXPECT_TRUE(fs::is_directory("one\\two"));
  EXPECT_FALSE(fs::exists("one"));
}

TEST_F(InTempDir, AFileInTheWayIsLeftAloneAndNothingBelowItIsMade) {
  std::ofstream("blocker") << "keep me";
  PrepareDirectories("blocker/deeper/file.jpg");
  EXPECT_TRUE(fs::is_regular_file("blocker"));
  EXPECT_EQ(testsupport::ReadFileBytes("blocker").size(), 7u);
}

}  // namespace
