#include <cinttypes>
#include <cstdio>

#include "tools/quendrel_tool/tool.h"

namespace tool {
namespace {

constexpr const char* kUsage = "quendrel-tool seek FILE TARGET";

void PrintHelp() {
  std::printf(
      "usage: %s\n\n"
      "Runs the reader's seek scan for byte TARGET and prints one line: the offset at which\n"
      "reading resumes (the first key or JPEG frame that ends at or after TARGET; 0 for a\n"
      "TARGET of 0 or less), or -1 when there is none.\n",
      kUsage);
}

}  // namespace

int CommandSeek(const Args& args) {
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (IsHelp(arg)) {
      PrintHelp();
      return 0;
    }
    operands.push_back(arg);
  }
  if (operands.size() != 2) return UsageError("seek", kUsage, "needs FILE and TARGET");
  int64_t target = 0;
  if (!ParseInt64(operands[1], &target)) {
    return UsageError("seek", kUsage, "TARGET must be a byte offset: " + operands[1]);
  }
  const std::string& path = operands[0];
  int64_t fileLength = 0;
  FILE* file = OpenRecording(path, &fileLength);
  if (file == nullptr) {
    const std::string problem = OpenProblem(path);
    ReportFileError("seek", path, problem.empty() ? "cannot be opened" : problem);
    return 2;
  }
  std::unique_ptr<PlaybackContext> context = CreatePlaybackContext(path);
  context->running.store(1);
  const int64_t landing = SeekKeyFrame(file, target, *context);
  std::fclose(file);
  std::printf("%" PRId64 "\n", landing);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace tool
