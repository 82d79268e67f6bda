#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct CommandLineCase {
  std::vector<const char*> arguments;  // after the program name
  std::string expectedPath;
};

class CommandLinePathTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLinePathTest, TakesTheFirstArgumentWithoutItsSurroundingQuotes) {
  std::vector<const char*> argv{"quendrel"};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  argv.push_back(nullptr);
  EXPECT_EQ(GetParam().expectedPath,
            CommandLinePath(static_cast<int>(argv.size()) - 1, argv.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CommandLinePathTest,
    ::testing::Values(CommandLineCase{{}, ""},
                      CommandLineCase{{"/rec/cam1.h264"}, "/rec/cam1.h264"},
                      CommandLineCase{{"\"/rec/cam 1.h264\""}, "/rec/cam 1.h264"},
                      CommandLineCase{{"a"}, "a"}, CommandLineCase{{"\"\""}, ""},
                      // A lone quote, or one on one side only, is part of the name.
                      CommandLineCase{{"\""}, "\""},
                      CommandLineCase{{"\"/rec/cam1.h264"}, "\"/rec/cam1.h264"},
                      CommandLineCase{{"/rec/cam1.h264\""}, "/rec/cam1.h264\""},
                      CommandLineCase{{" /rec/cam1.h264 "}, " /rec/cam1.h264 "},
                      CommandLineCase{{"/rec/one.h264", "/rec/two.h264"}, "/rec/one.h264"}));

}  // namespace
